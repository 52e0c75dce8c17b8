#include "keychain/unlock_request.h"

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

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

std::string command_text(const std::vector<std::string>& words) {
  if (words.empty()) return "<empty command>";
  std::string out;
  for (const std::string& w : words) {
    if (!out.empty()) out += ' ';
    out += w;
  }
  return out;
}

std::string selectors_text(const std::vector<std::string>& selectors) {
  if (selectors.size() == 1) return selectors.front();
  if (selectors.empty()) return "no selectors";
  return std::to_string(selectors.size()) + " selectors";
}

std::string target_text(const RevealTarget& target) {
  return std::visit(Overloaded{
                        [](const RevealTarget::Stdout&) -> std::string { return "stdout"; },
                        [](const RevealTarget::File& f) { return "file " + errors::path_text(f.path); },
                        [](const RevealTarget::Clipboard&) -> std::string { return "clipboard"; },
                        [](const RevealTarget::ChildProcess& c) { return "child process " + command_text(c.command); },
                        [](const RevealTarget::SdkCaller& s) { return "SDK caller " + s.text; },
                        [](const RevealTarget::Custom& c) { return c.text; },
                    },
                    target.target);
}

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

std::string display_selector(const core::SecretSelectorV1& selector) {
  std::string out;
  for (const cord::Text& segment : selector.tuple) {
    if (!out.empty()) out += '/';
    out += segment.view();
  }
  if (selector.tuple.empty()) out = "<root>";
  if (!selector.labels.empty()) {
    out += '{';
    bool first = true;
    for (const core::SecretLabelV1& label : selector.labels) {
      if (!first) out += ',';
      first = false;
      out.append(label.key.view()).append("=").append(label.value.view());
    }
    out += '}';
  }
  return out;
}

std::string UnlockPurpose::text() const {
  return std::visit(
      Overloaded{
          [](const Reveal& r) { return "reveal " + display_selector(r.selector) + " to " + target_text(r.target); },
          [](const Run& r) { return "run " + command_text(r.command) + " with " + selectors_text(r.selectors); },
          [](const Set& s) { return "set " + display_selector(s.selector); },
          [](const Move& m) { return "move " + display_selector(m.from) + " to " + display_selector(m.to); },
          [](const Delete& d) { return "delete " + display_selector(d.selector); },
          [](const Custom& c) { return c.text; },
          [](const StoreIdentity&) -> std::string { return "store this identity"; },
          [](const VerifyVault&) -> std::string { return "verify and inspect the vault"; },
      },
      purpose);
}

bool UnlockPurpose::reads_only() const {
  return std::holds_alternative<Reveal>(purpose) || std::holds_alternative<Run>(purpose) ||
         std::holds_alternative<VerifyVault>(purpose);
}

UnlockRequest UnlockRequest::make(const store::WorkspacePaths& paths, std::vector<std::uint8_t> root_id,
                                  std::vector<std::uint8_t> user_id, UnlockPurpose purpose) {
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
  return short_hex(user_id);
}

std::string UnlockRequest::project_label() const {
  if (project_name && !project_name->empty()) return *project_name;
  if (stores_identity(purpose)) {
    if (auto name = last_component(workspace_root); name && errors::path_text(*name) == *name) return *name;
  }
  return short_hex(root_id);
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
  const std::span<const std::uint8_t> root = request.root_id;
  const std::span<const std::uint8_t> user = request.user_id;
  const std::filesystem::path path = identity_path(base, root, user);

  // Every early return below drops the lock with it.
  OSTREL_TRY_ASSIGN(store::FileLock lock, lock_root(base, root));
  OSTREL_TRY(split_combined_keychain(base, root));
  OSTREL_TRY_ASSIGN(std::optional<SealedIdentityV1> sealed, read_identity(path, root, user));
  if (!sealed) {
    OSTREL_TRY(split_legacy_keychain(base, root, legacy_keychain_path(base, user)));
    OSTREL_TRY_ASSIGN(sealed, read_identity(path, root, user));
  }
  if (!sealed) return std::unexpected(KeychainError::no_safe_keychain(UserId(HashValue(user))));
  // Never held while someone types a passphrase or Argon2id runs.
  lock.release();

  OSTREL_TRY_ASSIGN(const platform::SecretBytes passphrase, provider->passphrase(request));
  OSTREL_TRY_ASSIGN(const LocalIdentityV1 local, unlock(passphrase.span(), root, user, *sealed));
  return identity_from_local(local);
}

}  // namespace ostrel::keychain
