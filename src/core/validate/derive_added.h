// The state a secret write leaves: the derivation of a record set that gained one record, found
// from the state of the set before it instead of judging every record again. Pure functions of
// their arguments; safe from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "core/records.h"
#include "core/validate/ratchet_state.h"
#include "core/validate/state.h"
#include "errors/core_error.h"

namespace ostrel::validate {

// Exactly derive_state(candidate, next_ratchet, base.record_hashes()), every field of it. When
// the added record is a well-formed secret value or deletion, signed by a key that already signs
// records of a clean base, and nothing rolls back, the result is built from `base` (the added
// record is the only one hashed or verified; the authority is the base's); in every other case
// the whole candidate set is derived (derive_added.cc lists them).
// `base` is borrowed, not consumed: a write that fails after this keeps its state.
// REQUIRES: `base` is derive_state of `candidate` without its element `added`, in the same
// order, against exactly `base_remembered` (with any verified set), not a copy advanced since:
// counters raised after the derivation would hide a rollback from the shortcut. `next_ratchet`
// may be any ratchet; a write passes its session's ratchet advanced by `base.ratchet`.
CoreResult<VaultState> derive_with_added_record(const VaultState& base, const RatchetState& base_remembered,
                                                std::span<const core::VaultRecordV1> candidate, std::size_t added,
                                                const RatchetState& next_ratchet);

// The shortcut alone: the same state built from `base`, or none when only the whole derivation
// gives it. Same arguments and requirements; never verifies more than the added record.
std::optional<VaultState> derive_by_addition(const VaultState& base, const RatchetState& base_remembered,
                                             std::span<const core::VaultRecordV1> candidate, std::size_t added,
                                             const RatchetState& next_ratchet);

}  // namespace ostrel::validate
