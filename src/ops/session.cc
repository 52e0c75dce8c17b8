#include "ops/session.h"

#include "errors/try.h"

namespace ostrel::ops {

OpsResult<VaultSession> VaultSession::establish(OpenVault open, crypto::Identity identity) {
  OSTREL_TRY(open.ensure_valid());
  OSTREL_TRY(save_verification_cache(open, identity));
  OSTREL_TRY(open.ensure_valid());  // the state may have been derived again
  if (!open.state.users.contains(identity.user_id)) return std::unexpected(OpsError::not_member(identity.user_id));
  return VaultSession(std::move(open), std::move(identity));
}

}  // namespace ostrel::ops
