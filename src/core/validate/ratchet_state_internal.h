// What one ratchet record remembers, exposed for tests; the vault reads it through RatchetState.
// Pure functions; safe from any thread.
#pragma once

#include "core/validate/ratchet_state.h"

namespace ostrel::validate {

// The entity a ratchet record remembers; none for FormatVersion and TrustedRoot.
std::optional<EntityKey> ratchet_record_key(const core::RatchetRecordV1& record);

// The binding a ratchet record remembers: none for an empty handle text, an absent membership
// input, a selector without path segments, and kinds that have no binding.
std::optional<EntityBinding> ratchet_record_binding(const core::RatchetRecordV1& record);

// The counter a ratchet record remembers; 0 for FormatVersion and TrustedRoot, which have none.
std::uint64_t counter_of(const core::RatchetRecordV1& record);

}  // namespace ostrel::validate
