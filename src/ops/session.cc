#include "ops/session.h"

#include <optional>
#include <string>
#include <utility>

#include "core/ids.h"
#include "errors/try.h"
#include "keychain/current_user.h"
#include "ops/trust.h"

namespace ostrel::ops {

OpsResult<VaultSession> VaultSession::establish(OpenVault open, crypto::Identity identity) {
  OSTREL_TRY(open.ensure_valid());
  OSTREL_TRY(save_verification_cache(open, identity));
  OSTREL_TRY(open.ensure_valid());  // the state may have been derived again
  if (!open.state.users.contains(identity.user_id)) return std::unexpected(OpsError::not_member(identity.user_id));
  return VaultSession(std::move(open), std::move(identity));
}

OpsResult<VaultSession> authenticate_session(OpenVault open, const keychain::PassphraseKeychain& keychain,
                                             const UserId& user, keychain::UnlockPurpose purpose) {
  if (!purpose.reads_only() && open.pending) return std::unexpected(pending_transaction_error(*open.pending));
  OSTREL_TRY(open.ensure_valid());
  OSTREL_TRY_ASSIGN(crypto::Identity identity,
                    unlock_session_identity(open.state, open.paths, keychain, user, std::move(purpose)));
  OSTREL_TRY(save_verification_cache(open, identity));
  OSTREL_TRY(open.ensure_member(identity.user_id));
  OSTREL_TRY(open.ensure_valid());
  return VaultSession(std::move(open), std::move(identity));
}

OpsResult<crypto::Identity> unlock_session_identity(const validate::VaultState& state,
                                                    const store::WorkspacePaths& paths,
                                                    const keychain::PassphraseKeychain& keychain, const UserId& user,
                                                    keychain::UnlockPurpose purpose) {
  if (!state.root_key_id) return std::unexpected(OpsError::missing_effective_root());

  std::optional<std::string> project;
  if (const core::VaultHandleRecordV1* vault = vault_handle_name(state)) {
    project = core::normalize_handle(vault->handle.view());
  }
  std::optional<std::string> user_name;
  if (const core::UserHandleRecordV1* named = user_handle_name(state, user)) {
    user_name = core::normalize_handle(named->handle.view());
  }
  const keychain::UnlockRequest request =
      keychain::UnlockRequest::make(paths, *state.root_key_id, user, std::move(purpose))
          .with_names(std::move(project), std::move(user_name));

  OSTREL_TRY_ASSIGN(auto identity, keychain.load_identity(request));
  if (identity.user_id != user) return std::unexpected(OpsError::keychain_identity_mismatch(identity.user_id, user));
  return identity;
}

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
