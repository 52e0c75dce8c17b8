#include "frontend/session/open.h"

#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "errors/try.h"
#include "frontend/invite/environment.h"
#include "frontend/user/select.h"
#include "keychain/layout.h"
#include "keychain/passphrase_keychain.h"
#include "keychain/unlock_purpose.h"
#include "ops/open_vault.h"

namespace ostrel::frontend {
namespace {

// `path` anchored at the current directory (an empty path stands for the directory itself). Kept
// as it is when the current directory cannot be found: then nothing relative to it can be opened.
std::filesystem::path anchored(std::filesystem::path path) {
  if (path.is_absolute()) return path;
  std::error_code error;
  std::filesystem::path here = std::filesystem::current_path(error);
  if (error) return path;
  return path.empty() ? here : here / path;
}

// The passphrase keychain of the road: the given passphrase, else the console prompt.
KeychainResult<keychain::PassphraseKeychain> passphrase_keychain(std::optional<platform::SecretBytes> passphrase) {
  if (!passphrase) return keychain::PassphraseKeychain::with_console_prompt();
  OSTREL_TRY_ASSIGN(std::filesystem::path base, keychain::base_dir());
  return keychain::PassphraseKeychain{std::move(base),
                                      std::make_shared<keychain::GivenPassphrase>(std::move(*passphrase))};
}

// The invitation road once the invitation is parsed.
FrontendResult<ops::VaultSession> session_from(const store::WorkspacePaths& paths,
                                               FrontendResult<core::Invite> invite) {
  OSTREL_TRY_ASSIGN(const core::Invite invitation, std::move(invite));
  OSTREL_TRY_ASSIGN(ops::VaultSession session, ops::open_session_from_invite(paths, invitation));
  return session;
}

}  // namespace

store::WorkspacePaths workspace_paths(const std::filesystem::path& vault_dir) {
  // One separator between the folder and the file name, none added after a trailing one.
  store::WorkspacePaths paths = store::WorkspacePaths::for_vault_file(anchored(vault_dir / "vault.cord"));
  paths.state_dir = anchored(std::move(paths.state_dir));
  return paths;
}

FrontendResult<ops::VaultSession> open_session_from_keychain(const store::WorkspacePaths& paths,
                                                             std::optional<std::string_view> user,
                                                             std::optional<platform::SecretBytes> passphrase,
                                                             std::string_view purpose) {
  OSTREL_TRY_ASSIGN(ops::OpenVault opened, ops::OpenVault::open(paths));
  OSTREL_TRY_ASSIGN(const SelectedUser selected, select_user(opened.state, user));
  OSTREL_TRY_ASSIGN(const keychain::PassphraseKeychain keys, passphrase_keychain(std::move(passphrase)));
  keychain::UnlockPurpose custom{keychain::UnlockPurpose::Custom{std::string(purpose)}};
  OSTREL_TRY_ASSIGN(ops::VaultSession session,
                    ops::authenticate_session(std::move(opened), keys, selected.user.user_id, std::move(custom)));
  return session;
}

FrontendResult<ops::VaultSession> open_session_from_invite(const store::WorkspacePaths& paths,
                                                           invite::InviteInput input) {
  auto parsed = invite::parse_input(input);
  input = {};  // the invitation's bytes are wiped once parsed
  return session_from(paths, std::move(parsed));
}

platform::Result<ops::VaultSession, EnvironmentRoadError> open_session_from_environment(
    const store::WorkspacePaths& paths, std::string_view text_variable, std::string_view file_variable) {
  invite::InviteVariables variables = invite::read_invite_variables(text_variable, file_variable);
  if (!variables.text && !variables.file) return std::unexpected(InviteVariablesRefusal::NeitherSet);
  if (variables.text && variables.file) return std::unexpected(InviteVariablesRefusal::BothSet);
  OSTREL_TRY_ASSIGN(ops::VaultSession session,
                    variables.text
                        ? open_session_from_invite(paths, {invite::InviteInput::Form::Text, std::move(*variables.text)})
                        : session_from(paths, invite::parse(std::nullopt, std::filesystem::path(*variables.file))));
  return session;
}

}  // namespace ostrel::frontend
