// The state derivation: a vault's record set and the remembered ratchet become one validated
// VaultState. Pure functions of their arguments; safe from any thread.
#pragma once

#include <set>
#include <span>

#include "core/records.h"
#include "core/validate/ratchet_state.h"
#include "core/validate/state.h"
#include "errors/core_error.h"

namespace ostrel::validate {

// The format version this program writes.
inline constexpr std::uint64_t kFormatVersion = 1;

// Behind the format-version gate: a remembered version above ours yields an empty, invalid
// state with the one issue FormatVersionRegression. Signatures of records whose hash is in
// `verified` are not checked. Records are walked in the set's order (ascending encoding, as the
// file holds them), so `records` and `issues` come out the same on every run.
CoreResult<VaultState> derive_state(std::span<const core::VaultRecordV1> records, const RatchetState& remembered,
                                    const VerifiedHashes& verified);
// derive_state with nothing already verified.
CoreResult<VaultState> derive_state_fresh(std::span<const core::VaultRecordV1> records,
                                          const RatchetState& remembered);
// The derivation proper.
CoreResult<VaultState> build_state(std::span<const core::VaultRecordV1> records, const RatchetState& remembered,
                                   const VerifiedHashes& verified);

}  // namespace ostrel::validate
