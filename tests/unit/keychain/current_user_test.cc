// The current user of a root: read under the root's lock after the combined split, found through
// the keychain of the environment, and the verification cache loaded at opening, which is the
// one of the keychain's current user for the root (no keychain means no cache).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "crypto/signing.h"
#include "keychain/current_user.h"
#include "keychain/layout.h"
#include "store/cache_file.h"
#include "support/identities.h"
#include "support/keychain.h"
#include "support/scratch.h"

namespace ostrel::keychain {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ScratchDir;

const Bytes kRoot(32, 0x11);
const Bytes kBob(32, 0x33);
const HashValue kRootId(kRoot);

TEST(ReadCurrentUser, NoFolderGivesNoneAndLeavesTheLock) {
  ScratchDir dir;
  auto got = read_current_user(dir.path(), kRootId);
  ASSERT_TRUE(got) << got.error().message();
  EXPECT_FALSE(*got);
  EXPECT_EQ(testing::entries(root_lock_path(dir.path(), kRootId).parent_path()), std::vector<std::string>{"keychain.lock"});
}

TEST(ReadCurrentUser, SplitsACombinedKeychainFirst) {
  ScratchDir dir;
  KeychainRecords records;
  records.insert(testing::current_user_record({kBob, "bob"}));
  testing::plant_file(combined_keychain_path(dir.path(), kRootId), testing::keychain_file(records));
  auto got = read_current_user(dir.path(), kRootId);
  ASSERT_TRUE(got && *got);
  EXPECT_EQ(**got, (CurrentUserV1{kBob, "bob"}));
  EXPECT_FALSE(std::filesystem::exists(combined_keychain_path(dir.path(), kRootId)));
}

TEST(CurrentUserId, ReadsTheKeychainOfTheEnvironment) {
  ScratchDir dir;
  const HashValue root(kRoot);
  testing::ScopedEnv keychain_dir("OSTREL_KEYCHAIN_DIR", dir.path().string());
  EXPECT_EQ(*current_user_id(root), std::nullopt);
  testing::plant_file(current_user_path(dir.path(), kRootId), testing::current_user_file({kBob, "bob"}));
  EXPECT_EQ(*current_user_id(root), UserId(HashValue(kBob)));
  testing::plant_file(current_user_path(dir.path(), kRootId), std::vector<std::uint8_t>{1, 2, 3});
  EXPECT_EQ(current_user_id(root).error().reason(), KeychainError::kMissingCurrentUserMagic);
  testing::ScopedEnv no_dir("OSTREL_KEYCHAIN_DIR", std::nullopt), no_appdata("APPDATA", std::nullopt);
  EXPECT_EQ(current_user_id(root).error().kind(), KeychainError::BackendUnavailable);
}


// The cache's lookup: whatever current_user_id fails with counts as no current user.
TEST(CurrentUserOrNone, CountsEveryFailureAsNone) {
  ScratchDir dir;
  const HashValue root(kRoot);
  struct Case {
    const char* name;
    std::optional<Bytes> file;  // current-user.cord's bytes, none for no file
    bool keychain_dir;
    std::optional<UserId> want;
  };
  const Case cases[] = {
      {"no file", std::nullopt, true, std::nullopt},
      {"bob", testing::current_user_file({kBob, "bob"}), true, UserId(HashValue(kBob))},
      {"not a current-user file", Bytes{1, 2, 3}, true, std::nullopt},
      {"no keychain folder", testing::current_user_file({kBob, "bob"}), false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir / "keychain");
    if (c.file) testing::plant_file(current_user_path(dir / "keychain", kRootId), *c.file);
    testing::ScopedEnv keychain_dir("OSTREL_KEYCHAIN_DIR",
                                    c.keychain_dir ? std::optional<std::string>((dir / "keychain").string()) : std::nullopt);
    testing::ScopedEnv appdata("APPDATA", std::nullopt);
    EXPECT_EQ(current_user_or_none(root), c.want);
    EXPECT_EQ(current_user_id(root).has_value(), c.want.has_value() || !c.file);
  }
}

store::VerificationCacheV1 cache_of(const crypto::Identity& user, const HashValue& root, std::uint8_t hash_fill) {
  store::VerificationCacheV1 cache{root, 1, cord::Set<HashValue>({HashValue(Bytes(32, hash_fill))}), {}, {}};
  auto payload = store::encode_verification_payload(cache.trusted_root, cache.version, cache.record_hashes);
  if (!payload) std::abort();
  cache.signing_public_key = Bytes(user.signing_public_key.begin(), user.signing_public_key.end());
  cache.signature = crypto::sign(user.keys.signing_key, store::kVerificationCachePurpose, *payload);
  return cache;
}

TEST(VerificationCacheLookup, FollowsTheKeychainsCurrentUser) {
  testing::ScratchDir dir;
  testing::ScopedEnv state_dir("OSTREL_STATE_DIR", (dir / "state").string());
  testing::ScopedEnv keychain_dir("OSTREL_KEYCHAIN_DIR", (dir / "keychain").string());
  testing::ScopedEnv appdata("APPDATA", std::nullopt);
  const store::WorkspacePaths paths = store::WorkspacePaths::for_vault_file(dir / ".ostrel" / "vault.cord");
  const HashValue root(Bytes(32, 0xaa));
  const crypto::Identity alice = testing::identity_of(1), bob = testing::identity_of(2);
  ASSERT_TRUE(store::write_verification_cache(paths, alice.user_id, cache_of(alice, root, 1)));
  ASSERT_TRUE(store::write_verification_cache(paths, bob.user_id, cache_of(bob, root, 2)));

  // No current user yet: no cache.
  EXPECT_FALSE(store::load_verification_cache(paths, root, current_user_or_none));

  // Bob is the current user in an older combined keychain, split on the way.
  KeychainRecords records;
  records.insert(testing::current_user_record({Bytes(bob.user_id.value.bytes.begin(), bob.user_id.value.bytes.end()),
                                               std::nullopt}));
  testing::plant_file(combined_keychain_path(dir / "keychain", HashValue(root)), testing::keychain_file(records));
  auto loaded = store::load_verification_cache(paths, root, current_user_or_none);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(*loaded, cache_of(bob, root, 2));
  EXPECT_FALSE(std::filesystem::exists(combined_keychain_path(dir / "keychain", HashValue(root))));

  // Without a keychain folder the lookup fails, which counts as no cache.
  testing::ScopedEnv no_keychain("OSTREL_KEYCHAIN_DIR", std::nullopt);
  EXPECT_FALSE(store::load_verification_cache(paths, root, current_user_or_none));
}

}  // namespace
}  // namespace ostrel::keychain
