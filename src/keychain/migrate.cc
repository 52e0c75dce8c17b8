#include "keychain/migrate.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "errors/try.h"
#include "keychain/files.h"
#include "keychain/layout.h"
#include "keychain/migrate_internal.h"
#include "store/io.h"

namespace ostrel::keychain {
namespace {

bool belongs_to(const SealedIdentityV1& identity, const HashValue& root) {
  return std::ranges::equal(identity.root, root.bytes);
}

// The user a sealed identity names, whatever the length of its bytes.
UserId user_of(const SealedIdentityV1& identity) { return UserId(HashValue(identity.user)); }

KeychainResult<void> remove_older_file(const std::filesystem::path& path) {
  OSTREL_TRY(store::remove_file_if_present(path));
  return {};
}

// Writes `identity` to its file unless the file already holds it; a different identity there is
// InvalidFile with `conflict`.
KeychainResult<void> move_identity(const std::filesystem::path& base, const HashValue& root,
                                   const SealedIdentityV1& identity, std::string_view conflict) {
  const UserId user = user_of(identity);
  const std::filesystem::path path = identity_path(base, root, user);
  OSTREL_TRY_ASSIGN(const auto existing, read_identity(path, root, user));
  if (!existing) return write_identity(path, root, user, identity);
  if (*existing != identity) return std::unexpected(KeychainError::invalid_file(path, conflict));
  return {};
}

}  // namespace

std::vector<SealedIdentityV1> identities_for_root(const KeychainRecords& records, const HashValue& root) {
  std::vector<SealedIdentityV1> out;
  for (const KeychainRecordV1* record : canonical_order(records)) {
    if (const SealedIdentityV1* identity = identity_of(*record); identity != nullptr && belongs_to(*identity, root)) {
      out.push_back(*identity);
    }
  }
  return out;
}

KeychainRecords remaining_records(KeychainRecords records, const HashValue& root) {
  std::vector<KeychainRecordV1>& items = records.items();
  std::erase_if(items, [&](const KeychainRecordV1& r) {
    const SealedIdentityV1* identity = identity_of(r);
    return identity != nullptr && belongs_to(*identity, root);
  });
  return records;
}

KeychainResult<void> split_combined_keychain(const std::filesystem::path& base, const HashValue& root) {
  const std::filesystem::path combined = combined_keychain_path(base, root);
  OSTREL_TRY_ASSIGN(const bool exists, path_exists(combined));
  if (!exists) return {};
  OSTREL_TRY_ASSIGN(const KeychainRecords records, read_keychain_file(combined));

  if (std::ranges::any_of(records, [](const KeychainRecordV1& r) { return r.is_raw(); })) {
    return std::unexpected(KeychainError::invalid_file(combined, KeychainError::kCombinedUnknownRecords));
  }
  std::optional<CurrentUserV1> selector;
  std::vector<SealedIdentityV1> identities;
  for (const KeychainRecordV1* record : canonical_order(records)) {
    if (const CurrentUserV1* current = current_user_of(*record)) {
      if (selector) return std::unexpected(KeychainError::invalid_file(combined, KeychainError::kCombinedManyCurrentUsers));
      selector = *current;
    } else if (const SealedIdentityV1* identity = identity_of(*record)) {
      if (!belongs_to(*identity, root)) {
        return std::unexpected(KeychainError::invalid_file(combined, KeychainError::kCombinedOtherRoot));
      }
      identities.push_back(*identity);
    }
  }

  for (const SealedIdentityV1& identity : identities) {
    OSTREL_TRY(move_identity(base, root, identity, KeychainError::kSplitIdentityConflict));
  }
  const std::filesystem::path current = current_user_path(base, root);
  if (selector) {
    OSTREL_TRY_ASSIGN(const auto existing, read_current_user_file(current));
    if (!existing) {
      OSTREL_TRY(write_current_user(current, *selector));
    } else if (*existing != *selector) {
      return std::unexpected(KeychainError::invalid_file(current, KeychainError::kSplitCurrentUserConflict));
    }
  }

  // Everything moved is read once more before the only copy the older file holds goes away.
  for (const SealedIdentityV1& identity : identities) {
    const UserId user = user_of(identity);
    const std::filesystem::path path = identity_path(base, root, user);
    OSTREL_TRY_ASSIGN(const auto written, read_identity(path, root, user));
    if (!written || *written != identity) {
      return std::unexpected(KeychainError::invalid_file(path, KeychainError::kSplitIdentityUnverified));
    }
  }
  if (selector) {
    OSTREL_TRY_ASSIGN(const auto written, read_current_user_file(current));
    if (!written || *written != *selector) {
      return std::unexpected(KeychainError::invalid_file(current, KeychainError::kSplitCurrentUserUnverified));
    }
  }
  return remove_older_file(combined);
}

KeychainResult<void> split_legacy_keychain(const std::filesystem::path& base, const HashValue& root,
                                           const std::filesystem::path& legacy) {
  OSTREL_TRY_ASSIGN(const bool exists, path_exists(legacy));
  if (!exists) return {};
  std::filesystem::path folder = legacy.parent_path();
  if (folder.empty()) folder = ".";
  // Held until this returns, on every path: the file may hold identities of roots other
  // processes are opening under their own root locks.
  OSTREL_TRY_ASSIGN(store::FileLock lock, acquire_lock(folder / "keychain.lock"));

  OSTREL_TRY_ASSIGN(KeychainRecords records, read_keychain_file(legacy));
  const std::vector<SealedIdentityV1> identities = identities_for_root(records, root);
  for (const SealedIdentityV1& identity : identities) {
    OSTREL_TRY(move_identity(base, root, identity, KeychainError::kSplitIdentityLegacyConflict));
  }
  if (identities.empty()) return {};

  KeychainRecords remainder = remaining_records(std::move(records), root);
  if (remainder.empty()) return remove_older_file(legacy);
  OSTREL_TRY_ASSIGN(const cord::Buffer bytes, encode_keychain_file(remainder));
  OSTREL_TRY(write_keychain_file(legacy, bytes));
  OSTREL_TRY_ASSIGN(const KeychainRecords reread, read_keychain_file(legacy));
  if (!(reread == remainder)) {
    return std::unexpected(KeychainError::invalid_file(legacy, KeychainError::kLegacyRewriteUnverified));
  }
  return {};
}

}  // namespace ostrel::keychain
