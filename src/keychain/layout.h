// Where the identity keychain lies: its base folder, read afresh from the environment on every
// call, and the path of each keychain file under it. Only the environment is read; the file
// system is never touched. Safe from any thread while nothing changes the environment.
#pragma once

#include <filesystem>

#include "errors/keychain_error.h"
#include "ids/identifiers.h"

namespace ostrel::keychain {

// $OSTREL_KEYCHAIN_DIR exactly as set (empty or relative values included); else $APPDATA/Ostrel;
// else KeychainError::BackendUnavailable ("passphrase", kNoKeychainDirectory).
KeychainResult<std::filesystem::path> base_dir();

// Ids are written as lower-case hex of whatever bytes they hold.
// base / hex-root / identities / hex-user.cord
std::filesystem::path identity_path(const std::filesystem::path& base, const HashValue& root, const UserId& user);
// base / hex-root / current-user.cord
std::filesystem::path current_user_path(const std::filesystem::path& base, const HashValue& root);
// base / hex-root / keychain.cord: the older combined keychain of one root.
std::filesystem::path combined_keychain_path(const std::filesystem::path& base, const HashValue& root);
// base / hex-user / keychain.cord: the legacy keychain of one user, for any roots.
std::filesystem::path legacy_keychain_path(const std::filesystem::path& base, const UserId& user);
// base / hex-root / keychain.lock
std::filesystem::path root_lock_path(const std::filesystem::path& base, const HashValue& root);

}  // namespace ostrel::keychain
