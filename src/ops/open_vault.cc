#include "ops/open_vault.h"

namespace ostrel::ops {

OpsError validation_error(const validate::VaultState& state) { return OpsError::validation(state.issues); }

OpsResult<void> OpenVault::ensure_valid() const {
  if (!state.issues.empty()) return std::unexpected(validation_error(state));
  return {};
}

OpsResult<void> OpenVault::ensure_member(const UserId& user) const {
  if (!state.issues.empty() || state.users.contains(user)) return {};
  return std::unexpected(OpsError::not_member(user));
}

}  // namespace ostrel::ops
