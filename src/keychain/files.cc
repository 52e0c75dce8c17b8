#include "keychain/files.h"

#include <string>
#include <utility>

#include "errors/try.h"
#include "keychain/layout.h"
#include "platform/file.h"
#include "store/io.h"
#include "store/verified_file.h"

namespace ostrel::keychain {
namespace {

// The store's writer reports in store errors: a failed read as Io at the path, a refusal of the
// bytes as Io of kind InvalidData. The keychain turns a failed read into its own Io below.
StoreError read_failed(const std::filesystem::path& path, IoError error) {
  return StoreError::io(path, std::move(error));
}
StoreError refused(const std::filesystem::path& path, std::string message) {
  return StoreError::io(path, IoError(IoError::InvalidData, std::move(message)));
}

constexpr store::FileFormat kIdentityFile{
    .magic = {"ostrel-identity\0", 16}, .magic_name = "identity", .subject = "identity",
    .max_bytes = kMaxIdentityFileBytes, .access = store::FileAccess::Private,
    .read_failed = read_failed, .invalid = refused};
constexpr store::FileFormat kCurrentUserFile{
    .magic = {"ostrel-current-user\0", 20}, .magic_name = "current-user", .subject = "current-user selector",
    .max_bytes = kMaxCurrentUserFileBytes, .access = store::FileAccess::Private,
    .read_failed = read_failed, .invalid = refused};
constexpr store::FileFormat kKeychainFile{
    .magic = {"ostrel-keychain\0", 16}, .magic_name = "keychain", .subject = "keychain",
    .max_bytes = kMaxKeychainFileBytes, .access = store::FileAccess::Private,
    .read_failed = read_failed, .invalid = refused};

KeychainError io_of(StoreError e) {
  if (e.kind() == StoreError::Io) return KeychainError::io(e.path(), e.io_error());
  return KeychainError(std::move(e));
}

// The file's bytes, or none when it does not exist (its folders included).
KeychainResult<std::optional<std::vector<std::uint8_t>>> read_optional(const std::filesystem::path& path,
                                                                       const store::FileFormat& format) {
  auto bytes = store::read_stored_file(path, format);
  if (bytes) return std::optional(std::move(*bytes));
  if (bytes.error().kind() == StoreError::Io && bytes.error().io_error().kind() == IoError::NotFound) {
    return std::nullopt;
  }
  return std::unexpected(io_of(std::move(bytes).error()));
}

std::span<const std::uint8_t> payload_of(std::span<const std::uint8_t> bytes, const store::FileFormat& format) {
  return bytes.subspan(format.magic.size());
}

// Whether the sealed identity names exactly this root and this user.
bool belongs_to(const SealedIdentityV1& identity, const HashValue& root, const UserId& user) {
  return std::ranges::equal(identity.root, root.bytes) && std::ranges::equal(identity.user, user.value.bytes);
}

KeychainResult<SealedIdentityV1> parse_identity(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                                                const HashValue& root, const UserId& user) {
  if (!store::has_magic(kIdentityFile, bytes)) {
    return std::unexpected(KeychainError::invalid_file(path, KeychainError::kMissingIdentityMagic));
  }
  OSTREL_TRY_ASSIGN(SealedIdentityV1 identity, decode_identity_store(payload_of(bytes, kIdentityFile)));
  if (!belongs_to(identity, root, user)) {
    return std::unexpected(KeychainError::invalid_file(path, KeychainError::kIdentityPathMismatch));
  }
  return identity;
}

KeychainResult<CurrentUserV1> parse_current_user(const std::filesystem::path& path,
                                                 std::span<const std::uint8_t> bytes) {
  if (!store::has_magic(kCurrentUserFile, bytes)) {
    return std::unexpected(KeychainError::invalid_file(path, KeychainError::kMissingCurrentUserMagic));
  }
  OSTREL_TRY_ASSIGN(CurrentUserV1 selector, decode_current_user_store(payload_of(bytes, kCurrentUserFile)));
  return selector;
}

// The verified write of a keychain file whose value is `expected`: the store's writer replaces the
// file and requires the same bytes back; the bytes read back must then parse to `expected`
// (`parse` is the reader's own check), else InvalidFile with `unverified`. Failures of the write
// itself, and bytes that came back different, are KeychainError::Store.
template <class T, class Parse>
KeychainResult<void> write_checked(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                                   const store::FileFormat& format, const T& expected, std::string_view unverified,
                                   Parse&& parse) {
  std::optional<KeychainResult<T>> read_back;
  OSTREL_TRY(store::write_verified(
      path, bytes, format, []() -> StoreResult<void> { return {}; },
      [&](std::span<const std::uint8_t> back) -> StoreResult<void> {
        read_back.emplace(parse(back));
        return {};
      }));
  if (!*read_back) return std::unexpected(std::move(*read_back).error());
  if (!(**read_back == expected)) return std::unexpected(KeychainError::invalid_file(path, unverified));
  return {};
}

}  // namespace

KeychainResult<store::FileLock> acquire_lock(const std::filesystem::path& lock_file, std::chrono::milliseconds wait) {
  std::filesystem::path dir = lock_file.parent_path();
  if (dir.empty()) dir = ".";
  if (auto made = store::create_dir_all(dir, store::FileAccess::Private); !made) {
    return std::unexpected(io_of(std::move(made).error()));
  }
  auto file = store::open_lock_file(lock_file, store::FileAccess::Private);
  if (!file) return std::unexpected(KeychainError::io(lock_file, std::move(file).error()));

  // Every sleep is the whole interval, unlike the store's locks: the last try may come up to one
  // interval after the wait ran out.
  auto lock = store::wait_for_lock(std::move(*file), true, {.limit = wait, .interval = kKeychainLockRetry,
                                                           .whole_intervals = true});
  if (!lock) return std::unexpected(KeychainError::io(lock_file, std::move(lock).error()));
  if (!*lock) return std::unexpected(KeychainError::lock_timeout(lock_file));
  return std::move(**lock);
}

KeychainResult<store::FileLock> lock_root(const std::filesystem::path& base, const HashValue& root) {
  return acquire_lock(root_lock_path(base, root));
}

KeychainResult<std::optional<SealedIdentityV1>> read_identity(const std::filesystem::path& path, const HashValue& root,
                                                              const UserId& user) {
  OSTREL_TRY_ASSIGN(const auto bytes, read_optional(path, kIdentityFile));
  if (!bytes) return std::nullopt;
  OSTREL_TRY_ASSIGN(SealedIdentityV1 identity, parse_identity(path, *bytes, root, user));
  return identity;
}

KeychainResult<void> write_identity(const std::filesystem::path& path, const HashValue& root, const UserId& user,
                                    const SealedIdentityV1& identity) {
  if (!belongs_to(identity, root, user)) {
    return std::unexpected(KeychainError::invalid_file(path, KeychainError::kIdentityPathMismatch));
  }
  OSTREL_TRY_ASSIGN(const cord::Buffer payload, encode_identity_store(identity));
  cord::Buffer file = store::start_file(kIdentityFile, payload.size());
  file.insert(file.end(), payload.begin(), payload.end());
  if (file.size() > kIdentityFile.max_bytes) {
    return std::unexpected(KeychainError::invalid_file(path, KeychainError::kIdentityTooLarge));
  }
  return write_checked(path, file, kIdentityFile, identity, KeychainError::kIdentityWriteUnverified,
                       [&](std::span<const std::uint8_t> back) { return parse_identity(path, back, root, user); });
}

KeychainResult<std::optional<CurrentUserV1>> read_current_user_file(const std::filesystem::path& path) {
  OSTREL_TRY_ASSIGN(const auto bytes, read_optional(path, kCurrentUserFile));
  if (!bytes) return std::nullopt;
  OSTREL_TRY_ASSIGN(CurrentUserV1 selector, parse_current_user(path, *bytes));
  return selector;
}

KeychainResult<void> write_current_user(const std::filesystem::path& path, const CurrentUserV1& selector) {
  OSTREL_TRY_ASSIGN(const cord::Buffer payload, encode_current_user_store(selector));
  cord::Buffer file = store::start_file(kCurrentUserFile, payload.size());
  file.insert(file.end(), payload.begin(), payload.end());
  if (file.size() > kCurrentUserFile.max_bytes) {
    return std::unexpected(KeychainError::invalid_file(path, KeychainError::kCurrentUserTooLarge));
  }
  return write_checked(path, file, kCurrentUserFile, selector, KeychainError::kCurrentUserWriteUnverified,
                       [&](std::span<const std::uint8_t> back) { return parse_current_user(path, back); });
}

KeychainResult<KeychainRecords> read_keychain_file(const std::filesystem::path& path) {
  OSTREL_TRY_ASSIGN(const auto bytes, read_optional(path, kKeychainFile));
  if (!bytes) return KeychainRecords();
  if (!store::has_magic(kKeychainFile, *bytes)) {
    return std::unexpected(KeychainError(cord::Error::validation(store::missing_magic_message(kKeychainFile))));
  }
  OSTREL_TRY_ASSIGN(KeychainRecords records, decode_keychain_store(payload_of(*bytes, kKeychainFile)));
  return records;
}

KeychainResult<cord::Buffer> encode_keychain_file(const KeychainRecords& records) {
  OSTREL_TRY_ASSIGN(const cord::Buffer payload, encode_keychain_store(records));
  cord::Buffer file = store::start_file(kKeychainFile, payload.size());
  file.insert(file.end(), payload.begin(), payload.end());
  return file;
}

KeychainResult<void> write_keychain_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  return store::write_verified(
      path, bytes, kKeychainFile, []() -> StoreResult<void> { return {}; },
      [](std::span<const std::uint8_t>) -> StoreResult<void> { return {}; });
}

KeychainResult<bool> path_exists(const std::filesystem::path& path) {
  auto info = platform::stat(path);
  if (info) return true;
  IoError error = IoError::from_os(info.error().code);
  if (error.kind() == IoError::NotFound) return false;
  return std::unexpected(KeychainError::io(path, std::move(error)));
}

}  // namespace ostrel::keychain
