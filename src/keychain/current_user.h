// The current user of a root: the user its current-user.cord names, read under the root's
// keychain lock after an older combined keychain of the root has been split. Nothing is cached;
// every call reads the file again. Safe from any thread; the keychain lock serialises processes.
#pragma once

#include <filesystem>
#include <optional>

#include "errors/keychain_error.h"
#include "ids/identifiers.h"
#include "keychain/stored.h"

namespace ostrel::keychain {

// The root's current user, or none: under the root's keychain lock (taken and released here),
// after splitting an older combined keychain of the root. Leaves the root's folder and an empty
// keychain.lock behind.
KeychainResult<std::optional<CurrentUserV1>> read_current_user(const std::filesystem::path& base,
                                                               const HashValue& root);

// The id of the current user of `root` in the keychain base_dir() names (read_current_user), or
// none.
KeychainResult<std::optional<UserId>> current_user_id(const HashValue& root);

// current_user_id with a failure counted as none: the current-user lookup the opening hands the
// verification cache (store::CurrentUserLookup), for which a keychain that cannot say means no
// cache.
std::optional<UserId> current_user_or_none(const HashValue& root);

}  // namespace ostrel::keychain
