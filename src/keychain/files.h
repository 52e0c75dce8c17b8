// Reading and writing the keychain files, and the keychain lock that guards them. Every file is
// read whole through the store's bounded read and written through the store's verified atomic
// writer, created private to this user (files 0600, folders 0700). Nothing here keeps state; the
// functions are safe from any thread.
//
// Lock order: a root's keychain.lock first, then (while a legacy file is migrated) the legacy
// user folder's keychain.lock. No keychain lock is held while a passphrase is asked for.
// REQUIRES (every read and write): the caller holds the keychain lock of the file's root, and for
// a legacy keychain.cord also that of its folder.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "cord/serializer.h"
#include "errors/keychain_error.h"
#include "ids/identifiers.h"
#include "keychain/stored.h"
#include "store/lock_file.h"

namespace ostrel::keychain {

inline constexpr std::uint64_t kMaxIdentityFileBytes = 1'048'576;
inline constexpr std::uint64_t kMaxCurrentUserFileBytes = 65'536;
inline constexpr std::uint64_t kMaxKeychainFileBytes = 67'108'864;

// How long a contended keychain lock is waited for, and the sleep between tries.
inline constexpr std::chrono::milliseconds kKeychainLockWait{10'000};
inline constexpr std::chrono::milliseconds kKeychainLockRetry{100};

// Creates the lock file's folder (Io naming the folder on failure) and the file itself when
// missing, then takes an exclusive whole-file lock. While another holder keeps it, sleeps the
// full retry interval between tries; once `wait` has passed at a failed try, LockTimeout naming
// the lock file. The lock file is never written or deleted.
KeychainResult<store::FileLock> acquire_lock(const std::filesystem::path& lock_file,
                                             std::chrono::milliseconds wait = kKeychainLockWait);
// acquire_lock on base / hex-root / keychain.lock.
KeychainResult<store::FileLock> lock_root(const std::filesystem::path& base, const HashValue& root);

// The sealed identity at `path`, or none when there is no such file. A file whose root or user
// differs from the ones asked for is InvalidFile ("identity does not match its root and user
// path").
KeychainResult<std::optional<SealedIdentityV1>> read_identity(const std::filesystem::path& path, const HashValue& root,
                                                              const UserId& user);
// Writes `identity` to `path` (refused before touching the disk unless it belongs to `root` and
// `user`, or when the file would exceed its bound), then reads it back and requires it equal.
KeychainResult<void> write_identity(const std::filesystem::path& path, const HashValue& root, const UserId& user,
                                    const SealedIdentityV1& identity);

KeychainResult<std::optional<CurrentUserV1>> read_current_user_file(const std::filesystem::path& path);
KeychainResult<void> write_current_user(const std::filesystem::path& path, const CurrentUserV1& selector);

// The records of a keychain.cord (combined or legacy), empty when there is no such file. A file
// without the keychain magic is Cord (a validation error), not InvalidFile.
KeychainResult<KeychainRecords> read_keychain_file(const std::filesystem::path& path);
// The whole file for `records`, magic included, in canonical order; no size bound.
KeychainResult<cord::Buffer> encode_keychain_file(const KeychainRecords& records);
// Writes a complete keychain.cord (encode_keychain_file's bytes) and reads the same bytes back.
// A failure is KeychainError::Store.
KeychainResult<void> write_keychain_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// Whether anything exists at `path` (links followed); failures other than not-found are Io.
KeychainResult<bool> path_exists(const std::filesystem::path& path);

}  // namespace ostrel::keychain
