#include "ops/keychain_road.h"

#include "errors/try.h"
#include "keychain/session.h"

namespace ostrel::ops {

OpsResult<VaultSession> authenticate_session(OpenVault open, const keychain::PassphraseKeychain& keychain,
                                             const UserId& user, keychain::UnlockPurpose purpose) {
  if (!purpose.reads_only() && open.pending) return std::unexpected(pending_transaction_error(*open.pending));
  OSTREL_TRY(open.ensure_valid());
  OSTREL_TRY_ASSIGN(crypto::Identity identity,
                    keychain::unlock_session_identity(open.state, open.paths, keychain, user, std::move(purpose)));
  OSTREL_TRY(save_verification_cache(open, identity));
  OSTREL_TRY(open.ensure_member(identity.user_id));
  OSTREL_TRY(open.ensure_valid());
  return VaultSession(std::move(open), std::move(identity));
}

}  // namespace ostrel::ops
