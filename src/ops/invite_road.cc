#include "ops/invite_road.h"

#include "errors/try.h"
#include "keychain/current_user.h"
#include "ops/session_trust.h"

namespace ostrel::ops {

OpsResult<VaultSession> open_session_from_invite(const store::WorkspacePaths& paths, const core::Invite& invite) {
  return open_session_from_invite(paths, invite, keychain::current_user_or_none);
}

OpsResult<VaultSession> open_session_from_invite(const store::WorkspacePaths& paths, const core::Invite& invite,
                                                 const store::CurrentUserLookup& current_user) {
  OSTREL_TRY(trust::establish_session_trust(paths, invite));
  OSTREL_TRY_ASSIGN(auto identity, crypto::Identity::from_seed(invite.seed().span()));
  OSTREL_TRY_ASSIGN(OpenVault open, OpenVault::open(paths, current_user));
  return VaultSession::establish(std::move(open), std::move(identity));
}

}  // namespace ostrel::ops
