#include "keychain/passphrase_keychain.h"

#include <utility>

#include "core/hex.h"
#include "errors/text_form.h"
#include "errors/try.h"
#include "keychain/files.h"
#include "keychain/layout.h"
#include "keychain/migrate.h"
#include "keychain/unlock.h"
#include "platform/console.h"

namespace ostrel::keychain {
namespace {

std::string short_hex(std::span<const std::uint8_t> bytes) { return core::hex_encode(bytes).substr(0, 8); }

bool stores_identity(const UnlockPurpose& purpose) {
  return std::holds_alternative<UnlockPurpose::StoreIdentity>(purpose.purpose);
}

// The last component of the path as written ("acme" of "/work/acme/"), or none for a root, "."
// or "..".
std::optional<std::string> last_component(const std::filesystem::path& path) {
  std::filesystem::path p = path;
  while (!p.empty() && !p.has_filename() && p.has_relative_path()) p = p.parent_path();
  const std::string name = p.filename().native();
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  return name;
}

}  // namespace

UnlockRequest UnlockRequest::make(const store::WorkspacePaths& paths, HashValue root_id, UserId user_id,
                                  UnlockPurpose purpose) {
  return UnlockRequest{.workspace_root = paths.workspace_root,
                       .vault_file = paths.vault_file,
                       .root_id = std::move(root_id),
                       .user_id = std::move(user_id),
                       .project_name = std::nullopt,
                       .user_name = std::nullopt,
                       .purpose = std::move(purpose)};
}

UnlockRequest UnlockRequest::with_names(std::optional<std::string> project, std::optional<std::string> user) && {
  project_name = std::move(project);
  user_name = std::move(user);
  return std::move(*this);
}

std::string UnlockRequest::user_label() const {
  if (user_name && !user_name->empty()) return *user_name;
  if (stores_identity(purpose)) return "this identity";
  return short_hex(user_id.value.bytes);
}

std::string UnlockRequest::project_label() const {
  if (project_name && !project_name->empty()) return *project_name;
  if (stores_identity(purpose)) {
    if (auto name = last_component(workspace_root); name && errors::path_text(*name) == *name) return *name;
  }
  return short_hex(root_id.bytes);
}

std::string console_prompt(const UnlockRequest& request) {
  return "Unlock Ostrel keychain for user \"" + request.user_label() + "\" in project \"" +
         request.project_label() + "\" to " + request.purpose.text() + ": ";
}

KeychainResult<platform::SecretBytes> ConsolePassphrase::passphrase(const UnlockRequest& request) const {
  auto line = platform::read_hidden_line(console_prompt(request));
  if (line) return std::move(*line);
  const platform::ConsoleError& e = line.error();
  const IoError error = e.end_of_input ? IoError(IoError::Other, "unexpected end of file") : IoError::from_os(e.code);
  return std::unexpected(KeychainError::passphrase_provider(error.message()));
}

KeychainResult<platform::SecretBytes> GivenPassphrase::passphrase(const UnlockRequest&) const {
  return passphrase_.clone();
}

KeychainResult<PassphraseKeychain> PassphraseKeychain::with_console_prompt() {
  OSTREL_TRY_ASSIGN(std::filesystem::path base, base_dir());
  return PassphraseKeychain{std::move(base), std::make_shared<const ConsolePassphrase>()};
}

KeychainResult<crypto::Identity> PassphraseKeychain::load_identity(const UnlockRequest& request) const {
  const HashValue& root = request.root_id;
  const UserId& user = request.user_id;
  const std::filesystem::path path = identity_path(base, root, user);

  // Every early return below drops the lock with it.
  OSTREL_TRY_ASSIGN(store::FileLock lock, lock_root(base, root));
  OSTREL_TRY(split_combined_keychain(base, root));
  OSTREL_TRY_ASSIGN(std::optional<SealedIdentityV1> sealed, read_identity(path, root, user));
  if (!sealed) {
    OSTREL_TRY(split_legacy_keychain(base, root, legacy_keychain_path(base, user)));
    OSTREL_TRY_ASSIGN(sealed, read_identity(path, root, user));
  }
  if (!sealed) return std::unexpected(KeychainError::no_safe_keychain(user));
  // Never held while someone types a passphrase or Argon2id runs.
  lock.release();

  OSTREL_TRY_ASSIGN(const platform::SecretBytes passphrase, provider->passphrase(request));
  OSTREL_TRY_ASSIGN(const LocalIdentityV1 local, unlock(passphrase.span(), root.bytes, user.value.bytes, *sealed));
  return identity_from_local(local);
}

}  // namespace ostrel::keychain
