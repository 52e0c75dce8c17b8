#include "ops/session_trust.h"

#include "core/validate/derive.h"
#include "ops/open_vault.h"

namespace ostrel::trust {

OpsResult<validate::RatchetState> seed_from_baseline(std::span<const core::VaultRecordV1> records,
                                                     const HashValue& root,
                                                     std::span<const core::RatchetRecordV1> baseline,
                                                     const UserId& invited) {
  validate::RatchetState ratchet = validate::RatchetState::from_baseline(root, baseline);
  auto state = validate::derive_state_fresh(records, ratchet);
  if (!state) return std::unexpected(OpsError(std::move(state).error()));
  // In this order, so a vault both rolled back and invalid reports the rollback.
  if (validate::has_rolled_back(*state)) return std::unexpected(OpsError(OpsError::RolledBackPastBaseline));
  if (!state->issues.empty()) return std::unexpected(ops::validation_error(*state));
  if (!state->users.contains(invited)) return std::unexpected(OpsError::claimed_identity_not_member(invited));
  ratchet.advance(state->ratchet);
  return ratchet;
}

}  // namespace ostrel::trust
