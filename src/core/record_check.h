// The per-record structure test: identifiers derived from the record's own content, well-formed
// handles, counters under the ceiling, canonical selectors and permissions, and the root user's
// two rules. Pure functions; safe from any thread.
#pragma once

#include <cstdint>

#include "core/access.h"
#include "core/records.h"
#include "errors/core_error.h"

namespace ostrel::core {

inline constexpr std::uint64_t kCounterCeiling = std::uint64_t{1} << 62;

// The user id must be the one derived from the record's two public keys.
StructureCheck check(const UserRecordV1& user);

// Whether two slots of the payload name the same recipient.
bool names_a_recipient_twice(const SealedPayloadV1& payload);

// The counter ceiling first, then the rules of the body's kind; the first failing rule decides.
// `record` supplies the signing key of a vault-root body.
StructureCheck check_structure(const VaultRecordV1& record, const RecordBodyV1& body, const UserId& root_user_id);

}  // namespace ostrel::core
