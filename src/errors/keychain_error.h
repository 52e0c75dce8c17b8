// KeychainError: failures of the identity keychain (its files, its lock, unlocking a sealed
// identity, the passphrase prompt). Three kinds wrap a lower layer's error behind a prefix, one
// carries an I/O error, the others are the keychain's own. The layers above carry it whole and
// print its message alone. Plain data; safe to copy and to pass between threads.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "platform/result.h"
#include "errors/cord_error.h"
#include "errors/crypto_error.h"
#include "errors/error_value.h"
#include "errors/shared_texts.h"
#include "errors/store_error.h"
#include "ids/identifiers.h"

namespace ostrel {

class [[nodiscard]] KeychainError : public errors::ErrorValue<KeychainError> {
 public:
  using Path = std::filesystem::path;

  // The sixteen kinds, in their fixed order.
  enum Kind : std::uint8_t {
    Store = 0,
    Crypto = 1,
    Cord = 2,
    Io = 3,
    MissingIdentity = 4,
    InconsistentIdentity = 5,
    UnlockFailed = 6,
    PassphraseProvider = 7,
    PassphraseMismatch = 8,
    IdentityProvider = 9,
    BackendUnavailable = 10,
    InvalidKdfParams = 11,
    Argon2 = 12,
    NoSafeKeychain = 13,
    InvalidFile = 14,
    LockTimeout = 15,
  };

  // The fixed texts of BackendUnavailable when no keychain directory can be found.
  static constexpr std::string_view kPassphraseBackend = "passphrase";
  static constexpr std::string_view kNoKeychainDirectory =
      "OSTREL_KEYCHAIN_DIR, APPDATA, XDG_DATA_HOME, and HOME are unset";

  // The fixed reasons of InvalidFile, each naming the file it concerns.
  static constexpr std::string_view kMissingIdentityMagic = "missing identity magic prefix";
  static constexpr std::string_view kIdentityPathMismatch = "identity does not match its root and user path";
  static constexpr std::string_view kIdentityTooLarge = "identity exceeds the supported size";
  static constexpr std::string_view kIdentityWriteUnverified = "identity write verification failed";
  static constexpr std::string_view kMissingCurrentUserMagic = "missing current-user magic prefix";
  static constexpr std::string_view kCurrentUserTooLarge = "current-user selector exceeds the supported size";
  static constexpr std::string_view kCurrentUserWriteUnverified = "current-user write verification failed";
  static constexpr std::string_view kCombinedUnknownRecords =
      "combined keychain has unknown records with no safe split destination";
  static constexpr std::string_view kCombinedManyCurrentUsers =
      "combined keychain contains multiple current-user selectors";
  static constexpr std::string_view kCombinedOtherRoot = "combined keychain contains an identity for another root";
  static constexpr std::string_view kSplitIdentityConflict = "split identity conflicts with the combined keychain";
  static constexpr std::string_view kSplitCurrentUserConflict =
      "split current-user selector conflicts with the combined keychain";
  static constexpr std::string_view kSplitIdentityUnverified = "split identity migration verification failed";
  static constexpr std::string_view kSplitCurrentUserUnverified = "split current-user migration verification failed";
  static constexpr std::string_view kSplitIdentityLegacyConflict =
      "split identity conflicts with the legacy user keychain";
  static constexpr std::string_view kLegacyRewriteUnverified = "legacy keychain rewrite verification failed";

  // Wrapping an error of a lower layer keeps it whole.
  KeychainError(StoreError e) : KeychainError(make(Store, std::move(e))) {}    // NOLINT: implicit on purpose
  KeychainError(CryptoError e) : KeychainError(make(Crypto, std::move(e))) {}  // NOLINT: implicit on purpose
  KeychainError(cord::Error e) : KeychainError(make(Cord, std::move(e))) {}    // NOLINT: implicit on purpose

  // A kind that carries no data: UnlockFailed, PassphraseMismatch, InvalidKdfParams.
  KeychainError(Kind kind) : ErrorValue(Raw{kind, nullptr}) {}  // NOLINT: `return KeychainError::UnlockFailed;`

  static KeychainError io(Path path, IoError error) { return make(Io, std::move(path), std::move(error)); }
  static KeychainError missing_identity(UserId user) { return make(MissingIdentity, std::move(user)); }
  // `user`: the requested user.
  static KeychainError inconsistent_identity(UserId user) { return make(InconsistentIdentity, std::move(user)); }
  // `message`: the console's I/O error text.
  static KeychainError passphrase_provider(std::string message) {
    return make(PassphraseProvider, std::move(message));
  }
  static KeychainError identity_provider(std::string message) { return make(IdentityProvider, std::move(message)); }
  // REQUIRES: both are fixed texts (string literals), such as kPassphraseBackend.
  static KeychainError backend_unavailable(std::string_view backend, std::string_view reason) {
    return make(BackendUnavailable, backend, reason);
  }
  // `message`: the Argon2 library's own text.
  static KeychainError argon2(std::string message) { return make(Argon2, std::move(message)); }
  // `user`: the requested user.
  static KeychainError no_safe_keychain(UserId user) { return make(NoSafeKeychain, std::move(user)); }
  // REQUIRES: `reason` is one of the k... reasons above.
  static KeychainError invalid_file(Path file, std::string_view reason) {
    return make(InvalidFile, std::move(file), reason);
  }
  static KeychainError lock_timeout(Path lock_file) { return make(LockTimeout, std::move(lock_file)); }

  // REQUIRES: kind() == Store.
  const StoreError& store_error() const { return field<StoreError>(0); }
  // REQUIRES: kind() == Crypto.
  const CryptoError& crypto_error() const { return field<CryptoError>(0); }
  // REQUIRES: kind() == Cord.
  const cord::Error& cord_error() const { return field<cord::Error>(0); }
  // REQUIRES: kind() is Io, InvalidFile or LockTimeout.
  const Path& path() const { return field<Path>(0); }
  // REQUIRES: kind() == Io.
  const IoError& io_error() const { return field<IoError>(1); }
  // REQUIRES: kind() is MissingIdentity, InconsistentIdentity or NoSafeKeychain.
  const UserId& user_id() const { return field<UserId>(0); }
  // REQUIRES: kind() is PassphraseProvider, IdentityProvider or Argon2.
  const std::string& text() const { return field<std::string>(0); }
  // REQUIRES: kind() == InvalidFile.
  std::string_view reason() const { return field<std::string_view>(1); }

  static constexpr std::string_view form(Kind kind) {
    switch (kind) {
      case Store: return errors::kStoreWrapped;
      case Crypto: return errors::kCryptoWrapped;
      case Cord: return errors::kCordWrapped;
      case Io: return errors::kIoAt;
      case MissingIdentity: return "identity keychain does not contain {}";
      case InconsistentIdentity: return "identity material is inconsistent for {}";
      case UnlockFailed: return "identity keychain unlock failed";
      case PassphraseProvider: return "passphrase provider failed: {}";
      case PassphraseMismatch: return "passphrases did not match";
      case IdentityProvider: return "identity provider failed: {}";
      case BackendUnavailable: return "{} identity keychain backend is unavailable: {}";
      case InvalidKdfParams: return "invalid passphrase keychain parameters";
      case Argon2: return "Argon2 operation failed: {}";
      case NoSafeKeychain: return "no safe identity keychain is available for {}";
      case InvalidFile: return "keychain file {} is invalid: {}";
      case LockTimeout: return "timed out waiting for keychain lock at {}";
    }
    return "keychain error";
  }

 private:
  using ErrorValue::ErrorValue;
};

template <class T>
using KeychainResult = platform::Result<T, KeychainError>;

}  // namespace ostrel
