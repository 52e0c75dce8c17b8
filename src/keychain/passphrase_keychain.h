// The passphrase identity keychain: the UnlockRequest a passphrase provider is handed, the
// console prompt and the given passphrase, and the PassphraseKeychain that pairs the keychain
// folder with a provider and loads identities from it. Values; the console provider blocks its
// thread until a line is entered. Safe from any thread.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "crypto/identity.h"
#include "errors/keychain_error.h"
#include "ids/identifiers.h"
#include "keychain/unlock_purpose.h"
#include "platform/secret.h"
#include "store/paths.h"

namespace ostrel::keychain {

struct UnlockRequest {
  std::filesystem::path workspace_root;
  std::filesystem::path vault_file;  // for providers; neither provider here reads it
  HashValue root_id;
  UserId user_id;
  std::optional<std::string> project_name;
  std::optional<std::string> user_name;
  UnlockPurpose purpose;

  // Both names absent.
  static UnlockRequest make(const store::WorkspacePaths& paths, HashValue root_id, UserId user_id,
                            UnlockPurpose purpose);
  UnlockRequest with_names(std::optional<std::string> project, std::optional<std::string> user) &&;

  // The user name when not empty; "this identity" when storing one; else the first 8 hex digits
  // of the user id.
  std::string user_label() const;
  // The project name when not empty; when storing an identity, the workspace root's last
  // component if it is valid UTF-8 and not empty; else the first 8 hex digits of the root id.
  std::string project_label() const;
};

// Unlock Ostrel keychain for user "<user label>" in project "<project label>" to <purpose>: 
std::string console_prompt(const UnlockRequest& request);

// A source of passphrases: one call per unlock, after the sealed identity has been found.
class PassphraseProvider {
 public:
  virtual ~PassphraseProvider() = default;
  // The passphrase's bytes, in wiping memory.
  virtual KeychainResult<platform::SecretBytes> passphrase(const UnlockRequest& request) const = 0;
};

// Asks on the terminal (console_prompt, echo off), once. A console that cannot be opened, written
// or read, an interrupt, or input that ends before the line does is PassphraseProvider with the
// system's text for it.
class ConsolePassphrase final : public PassphraseProvider {
 public:
  KeychainResult<platform::SecretBytes> passphrase(const UnlockRequest& request) const override;
};

// The passphrase a caller handed over; a copy of it, every time. Never fails.
class GivenPassphrase final : public PassphraseProvider {
 public:
  explicit GivenPassphrase(platform::SecretBytes passphrase) : passphrase_(std::move(passphrase)) {}
  KeychainResult<platform::SecretBytes> passphrase(const UnlockRequest& request) const override;

 private:
  platform::SecretBytes passphrase_;
};

// The passphrase identity keychain: its base folder and where its passphrases come from.
struct PassphraseKeychain {
  std::filesystem::path base;
  std::shared_ptr<const PassphraseProvider> provider;

  // base_dir() and the console prompt; base_dir's error unchanged.
  static KeychainResult<PassphraseKeychain> with_console_prompt();

  // The unlocked identity of the request's user for its root. Under the root's keychain lock:
  // split an older combined keychain, look for the identity file, split the user's legacy
  // keychain when there is none, and read it again; no identity then is NoSafeKeychain. The lock
  // is released before the provider is asked (once) and Argon2id runs.
  KeychainResult<crypto::Identity> load_identity(const UnlockRequest& request) const;
};

}  // namespace ostrel::keychain
