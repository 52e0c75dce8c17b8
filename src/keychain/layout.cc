#include "keychain/layout.h"

#include <string>

#include "core/hex.h"
#include "platform/env.h"

namespace ostrel::keychain {
namespace {

constexpr const char* kKeychainFile = "keychain.cord";
constexpr const char* kLockFile = "keychain.lock";

}  // namespace

KeychainResult<std::filesystem::path> base_dir() {
  if (auto dir = platform::env_var("OSTREL_KEYCHAIN_DIR")) return std::filesystem::path(*dir);
  if (auto appdata = platform::env_var("APPDATA")) return std::filesystem::path(*appdata) / "Ostrel";
  return std::unexpected(
      KeychainError::backend_unavailable(KeychainError::kPassphraseBackend, KeychainError::kNoKeychainDirectory));
}

std::filesystem::path identity_path(const std::filesystem::path& base, const HashValue& root, const UserId& user) {
  return base / core::hex_encode(root.bytes) / "identities" / (core::hex_encode(user.value.bytes) + ".cord");
}

std::filesystem::path current_user_path(const std::filesystem::path& base, const HashValue& root) {
  return base / core::hex_encode(root.bytes) / "current-user.cord";
}

std::filesystem::path combined_keychain_path(const std::filesystem::path& base, const HashValue& root) {
  return base / core::hex_encode(root.bytes) / kKeychainFile;
}

std::filesystem::path legacy_keychain_path(const std::filesystem::path& base, const UserId& user) {
  return base / core::hex_encode(user.value.bytes) / kKeychainFile;
}

std::filesystem::path root_lock_path(const std::filesystem::path& base, const HashValue& root) {
  return base / core::hex_encode(root.bytes) / kLockFile;
}

}  // namespace ostrel::keychain
