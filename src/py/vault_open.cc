#include "py/vault_open.h"

#include <array>
#include <string>
#include <utility>
#include <variant>

#include "errors/text_form.h"
#include "errors/try.h"
#include "frontend/session/open.h"
#include "py/args.h"
#include "py/auth.h"
#include "py/exceptions.h"
#include "py/messages.h"

namespace ostrel::py {
namespace {

constexpr std::string_view kDefaultPath = ".ostrel";

// A road's session, or its failure classified by its text.
Result<ops::VaultSession> classified(FrontendResult<ops::VaultSession> session) {
  if (!session) return std::unexpected(classify_text(session.error().message()));
  return std::move(*session);
}

// The environment road's failures: the variables' refusals and an unreadable file they name in
// the module's own words, as IdentityError; everything else by the text classification.
Error environment_error(const frontend::EnvironmentRoadError& error, const EnvChoice& choice) {
  if (const auto* refusal = std::get_if<frontend::InviteVariablesRefusal>(&error)) {
    return Error::identity(*refusal == frontend::InviteVariablesRefusal::NeitherSet
                               ? messages::neither_set(choice.invite, choice.invite_file)
                               : messages::set_only_one(choice.invite, choice.invite_file));
  }
  const FrontendError& failure = std::get<FrontendError>(error);
  if (failure.kind() == FrontendError::IoAt) {
    return Error::identity(messages::failed_to_read(errors::path_text(failure.path()), failure.io_error().message()));
  }
  return classify_text(failure.message());
}

// The road of the credential choice to the vault in the folder `path`; its failures become the
// module's exceptions.
Result<ops::VaultSession> take_road(const std::string& path, AuthChoice choice) {
  // The session writes through these paths for as long as it lives.
  const auto paths = frontend::workspace_paths(path);
  if (auto* keychain = std::get_if<KeychainChoice>(&choice)) {
    return classified(frontend::open_session_from_keychain(paths, keychain->user, std::move(keychain->passphrase),
                                                           messages::kUnlockPurpose));
  }
  if (auto* invite = std::get_if<InviteInput>(&choice)) {
    return classified(frontend::open_session_from_invite(paths, std::move(*invite)));
  }
  const EnvChoice& env = std::get<EnvChoice>(choice);
  auto session = frontend::open_session_from_environment(paths, env.invite, env.invite_file);
  if (!session) return std::unexpected(environment_error(session.error(), env));
  return std::move(*session);
}

}  // namespace

Result<ops::VaultSession> open_vault_session(const std::array<PyObject*, 2>& given) {
  std::string path(kDefaultPath);
  if (given[0] != nullptr) {
    OSTREL_TRY_ASSIGN(auto text, str_arg(given[0], "path"));
    path = std::move(text);
  }
  AuthChoice choice = KeychainChoice{};
  if (given[1] != nullptr && given[1] != Py_None) {
    const AuthChoice* held = auth_choice(given[1]);
    if (held == nullptr) {
      return std::unexpected(argument_error("auth", "'" + type_name(given[1]) + "' object cannot be converted to 'Auth'"));
    }
    choice = clone_choice(*held);
  }
  OSTREL_TRY_ASSIGN(ops::VaultSession session, take_road(path, std::move(choice)));
  if (const std::size_t conflicts = session.state().unresolved.size(); conflicts != 0) {
    return std::unexpected(Error::conflict(messages::vault_has_conflicts(conflicts)));
  }
  return session;
}

}  // namespace ostrel::py
