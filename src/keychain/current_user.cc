#include "keychain/current_user.h"

#include <utility>

#include "errors/try.h"
#include "keychain/files.h"
#include "keychain/layout.h"
#include "keychain/migrate.h"

namespace ostrel::keychain {

KeychainResult<std::optional<CurrentUserV1>> read_current_user(const std::filesystem::path& base,
                                                               const HashValue& root) {
  OSTREL_TRY_ASSIGN(store::FileLock lock, lock_root(base, root));
  OSTREL_TRY(split_combined_keychain(base, root));
  auto selector = read_current_user_file(current_user_path(base, root));
  lock.release();
  return selector;
}

KeychainResult<std::optional<UserId>> current_user_id(const HashValue& root) {
  OSTREL_TRY_ASSIGN(const std::filesystem::path base, base_dir());
  OSTREL_TRY_ASSIGN(const std::optional<CurrentUserV1> current, read_current_user(base, root));
  if (!current) return std::nullopt;
  return UserId(HashValue(current->user));
}

std::optional<UserId> current_user_or_none(const HashValue& root) {
  auto user = current_user_id(root);
  return user ? std::move(*user) : std::nullopt;
}

}  // namespace ostrel::keychain
