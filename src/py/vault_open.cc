#include "py/vault_open.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

#include "cord/text.h"
#include "errors/text_form.h"
#include "errors/try.h"
#include "frontend/invite/parse.h"
#include "frontend/user/select.h"
#include "keychain/layout.h"
#include "keychain/unlock_request.h"
#include "ops/invite_road.h"
#include "ops/keychain_road.h"
#include "ops/open_vault.h"
#include "platform/env.h"
#include "platform/secure_memory.h"
#include "py/args.h"
#include "py/auth.h"
#include "py/exceptions.h"
#include "py/messages.h"
#include "store/io.h"
#include "store/paths.h"

namespace ostrel::py {
namespace {

constexpr std::string_view kDefaultPath = ".ostrel";

template <class E>
Error classified(const E& error) {
  return classify_text(error.message());
}

Result<ops::VaultSession> keychain_road(const store::WorkspacePaths& paths, KeychainChoice choice) {
  auto opened = ops::OpenVault::open(paths);
  if (!opened) return std::unexpected(classified(opened.error()));
  auto selected =
      frontend::select_user(opened->state, choice.user ? std::optional<std::string_view>(*choice.user) : std::nullopt);
  if (!selected) return std::unexpected(classified(selected.error()));
  keychain::PassphraseKeychain keys;
  if (choice.passphrase) {
    auto base = keychain::base_dir();
    if (!base) return std::unexpected(classified(base.error()));
    keys = keychain::PassphraseKeychain{std::move(*base),
                                        std::make_shared<keychain::GivenPassphrase>(std::move(*choice.passphrase))};
  } else {
    auto console = keychain::PassphraseKeychain::with_console_prompt();
    if (!console) return std::unexpected(classified(console.error()));
    keys = std::move(*console);
  }
  keychain::UnlockPurpose purpose{keychain::UnlockPurpose::Custom{std::string(messages::kUnlockPurpose)}};
  auto session = ops::authenticate_session(std::move(*opened), keys, selected->user.user_id, std::move(purpose));
  if (!session) return std::unexpected(classified(session.error()));
  return std::move(*session);
}

Result<ops::VaultSession> open_session_from_invite(const store::WorkspacePaths& paths, InviteInput input) {
  auto invite = input.form == InviteInput::Form::Bytes
                    ? frontend::invite::parse_file_bytes(input.data.span())
                    : frontend::invite::parse(
                          std::string_view(reinterpret_cast<const char*>(input.data.data()), input.data.size()),
                          std::nullopt);
  input = {};  // the invitation's bytes are wiped once parsed
  if (!invite) return std::unexpected(classified(invite.error()));
  auto session = ops::open_session_from_invite(paths, *invite);
  if (!session) return std::unexpected(classified(session.error()));
  return std::move(*session);
}

// An environment variable as text; absent, not UTF-8, or a name the system cannot look up (one
// holding a NUL or "=") counts as unset.
std::optional<std::string> env_value(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos || name.find('=') != std::string::npos) return std::nullopt;
  return platform::env_var(name.c_str());
}

// `path` anchored at the current directory as it is now (an empty path stands for the directory
// itself), so that a later chdir of the process does not move an opened vault's files. Kept as
// it is when the current directory cannot be found: then nothing relative to it can be opened.
std::filesystem::path anchored(std::filesystem::path path) {
  if (path.is_absolute()) return path;
  std::error_code error;
  std::filesystem::path here = std::filesystem::current_path(error);
  if (error) return path;
  return path.empty() ? here : here / path;
}

platform::SecretBytes secret_copy(std::string_view text) {
  return platform::SecretBytes::copy_of({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

Result<ops::VaultSession> env_road(const store::WorkspacePaths& paths, const EnvChoice& choice) {
  std::optional<std::string> text = env_value(choice.invite);
  // Our copy of the text carries the seed: wiped on every way out.
  struct Wipe {
    std::optional<std::string>& text;
    ~Wipe() {
      if (text) platform::secure_wipe(text->data(), text->size());
    }
  } wipe{text};
  if (text && !cord::is_valid_utf8(*text)) {
    platform::secure_wipe(text->data(), text->size());
    text.reset();
  }
  const std::optional<std::string> file = env_value(choice.invite_file);
  if (!text && !file) return std::unexpected(Error::identity(messages::neither_set(choice.invite, choice.invite_file)));
  if (text && file) return std::unexpected(Error::identity(messages::set_only_one(choice.invite, choice.invite_file)));
  if (file) {
    auto bytes = store::read_secret_file_bounded(std::filesystem::path(*file), frontend::invite::kMaxFileBytes);
    if (!bytes) {
      return std::unexpected(Error::identity(messages::failed_to_read(errors::lossy_utf8(*file), bytes.error().message())));
    }
    return open_session_from_invite(paths, InviteInput{InviteInput::Form::Bytes, platform::SecretBytes::copy_of(*bytes)});
  }
  return open_session_from_invite(paths, InviteInput{InviteInput::Form::Text, secret_copy(*text)});
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
  // One separator between the folder and the file name, none added after a trailing one. The
  // vault file and the state directory (from a relative OSTREL_STATE_DIR) are anchored now: the
  // session writes through these paths for as long as it lives.
  store::WorkspacePaths paths = store::WorkspacePaths::for_vault_file(anchored(std::filesystem::path(path) / "vault.cord"));
  paths.state_dir = anchored(std::move(paths.state_dir));

  Result<ops::VaultSession> session = std::visit(
      [&](auto& c) -> Result<ops::VaultSession> {
        using C = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<C, KeychainChoice>) return keychain_road(paths, std::move(c));
        else if constexpr (std::is_same_v<C, InviteInput>) return open_session_from_invite(paths, std::move(c));
        else return env_road(paths, c);
      },
      choice);
  if (!session) return session;
  if (const std::size_t conflicts = session->state().unresolved.size(); conflicts != 0) {
    return std::unexpected(Error::conflict(messages::vault_has_conflicts(conflicts)));
  }
  return session;
}

}  // namespace ostrel::py
