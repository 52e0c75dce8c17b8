// The three roads from a workspace to a session, as a front end takes them: the keychain (the
// user named, else the default user; the passphrase given, else asked on the console), an
// invitation handed over as text or bytes, and the invitation the environment names. Each returns
// the session or the error of the step that failed, unchanged in its words; a front end wording
// failures itself (the Python module) keeps that to itself. The roads run on the caller's thread,
// take and release the cross-process locks their steps need, and block while a prompt waits.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <variant>

#include "errors/frontend_error.h"
#include "frontend/invite/parse.h"
#include "ops/session.h"
#include "platform/result.h"
#include "platform/secret.h"
#include "store/paths.h"

namespace ostrel::frontend {

// The paths of the vault in the folder `vault_dir` (the vault file vault_dir / "vault.cord"),
// with the vault file and the state directory (a relative OSTREL_STATE_DIR) anchored at the
// current directory as it is now, so that a later chdir of the process does not move an opened
// vault's files. Reads the environment; never touches the disk.
store::WorkspacePaths workspace_paths(const std::filesystem::path& vault_dir);

// The keychain road: the vault opened (ops::OpenVault::open), the user chosen (select_user:
// `user`, else the default user), the keychain located (the console prompt, or `passphrase`
// when given, which is then never asked for), and the session authenticated
// (ops::authenticate_session) for a custom purpose that the prompt ends with.
FrontendResult<ops::VaultSession> open_session_from_keychain(const store::WorkspacePaths& paths,
                                                             std::optional<std::string_view> user,
                                                             std::optional<platform::SecretBytes> passphrase,
                                                             std::string_view purpose);

// The invitation road: the invitation parsed (invite::parse_input; its bytes are wiped once
// parsed), then ops::open_session_from_invite.
FrontendResult<ops::VaultSession> open_session_from_invite(const store::WorkspacePaths& paths,
                                                           invite::InviteInput input);

// Why the environment names no single invitation: neither variable is set (a text that is not
// UTF-8 counts as unset here), or both are.
enum class InviteVariablesRefusal : std::uint8_t { NeitherSet, BothSet };
using EnvironmentRoadError = std::variant<InviteVariablesRefusal, FrontendError>;

// The environment road: the variables named `text_variable` and `file_variable`
// (invite::read_invite_variables), then the invitation road with the one that is set: the text,
// or the bytes of the file it names (a file that cannot be read is FrontendError::IoAt naming
// it as the variable holds it; see invite::parse).
platform::Result<ops::VaultSession, EnvironmentRoadError> open_session_from_environment(
    const store::WorkspacePaths& paths, std::string_view text_variable, std::string_view file_variable);

}  // namespace ostrel::frontend
