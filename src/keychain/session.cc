#include "keychain/session.h"

#include <utility>

#include "core/ids.h"
#include "errors/try.h"
#include "keychain/user_ref.h"

namespace ostrel::keychain {

OpsResult<crypto::Identity> unlock_session_identity(const validate::VaultState& state,
                                                    const store::WorkspacePaths& paths,
                                                    const PassphraseKeychain& keychain, const UserId& user,
                                                    UnlockPurpose purpose) {
  if (!state.root_key_id) return std::unexpected(OpsError::missing_effective_root());

  std::optional<std::string> project;
  if (const core::VaultHandleRecordV1* vault = vault_handle_name(state)) {
    project = core::normalize_handle(vault->handle.view());
  }
  std::optional<std::string> user_name;
  if (const core::UserHandleRecordV1* named = user_handle_name(state, user)) {
    user_name = core::normalize_handle(named->handle.view());
  }
  const UnlockRequest request = UnlockRequest::make(paths, *state.root_key_id, user, std::move(purpose))
                                    .with_names(std::move(project), std::move(user_name));

  OSTREL_TRY_ASSIGN(auto identity, keychain.load_identity(request));
  if (identity.user_id != user) return std::unexpected(OpsError::keychain_identity_mismatch(identity.user_id, user));
  return identity;
}

}  // namespace ostrel::keychain
