// Loading a user's identity through the keychain: the layouts it migrates on the way, and when
// the passphrase is asked for and when not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keychain/files.h"
#include "keychain/layout.h"
#include "keychain/passphrase_keychain.h"
#include "support/keychain.h"
#include "support/scratch.h"
#include "unit/keychain/alice_keychain.h"

namespace ostrel::keychain {
namespace {

using test::bytes;
using test::kRootId;
using test::seed_of;

class LoadIdentity : public test::AliceKeychain {};

TEST_F(LoadIdentity, UnlocksTheSplitLayoutWithTheLockReleased) {
  testing::plant_file(alice_file(), testing::identity_file(sealed_alice()));
  auto got = keychain().load_identity(request());
  ASSERT_TRUE(got) << got.error().message();
  EXPECT_EQ(got->user_id, alice_.user_id);
  EXPECT_EQ(provider_->calls, 1);
  EXPECT_TRUE(provider_->lock_free);
}

TEST_F(LoadIdentity, WrongPassphraseLeavesTheFileAsItWas) {
  testing::plant_file(alice_file(), testing::identity_file(sealed_alice("other")));
  const std::string before = testing::read_file(alice_file());
  auto got = keychain().load_identity(request());
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().message(), "identity keychain unlock failed");
  EXPECT_EQ(testing::read_file(alice_file()), before);
}

TEST_F(LoadIdentity, MissingIdentityIsNeverPrompted) {
  auto got = keychain().load_identity(request());
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind(), KeychainError::NoSafeKeychain);
  EXPECT_EQ(got.error().user_id(), alice_.user_id);
  EXPECT_EQ(provider_->calls, 0);
}

TEST_F(LoadIdentity, MigratesOlderLayoutsOnTheWay) {
  struct Case {
    const char* name;
    bool combined;
  };
  for (const Case& c : {Case{"combined keychain of the root", true}, Case{"legacy keychain of the user", false}}) {
    SCOPED_TRACE(c.name);
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) std::filesystem::remove_all(e.path());
    KeychainRecords records;
    records.insert(testing::identity_record(sealed_alice()));
    const auto older = c.combined ? combined_keychain_path(dir_.path(), kRootId)
                                  : legacy_keychain_path(dir_.path(), alice_.user_id);
    testing::plant_file(older, testing::keychain_file(records));
    auto got = keychain().load_identity(request());
    ASSERT_TRUE(got) << got.error().message();
    EXPECT_EQ(got->user_id, alice_.user_id);
    EXPECT_TRUE(std::filesystem::exists(alice_file()));
    EXPECT_FALSE(std::filesystem::exists(older));
  }
}

TEST_F(LoadIdentity, LegacyFileOfOtherRootsEndsWithNoIdentity) {
  KeychainRecords records;
  records.insert(testing::identity_record(
      testing::seal_identity(seed_of(0xa1), std::vector<std::uint8_t>(32, 9), bytes(alice_.user_id), "pw",
                             testing::cheap_kdf())));
  const auto legacy = legacy_keychain_path(dir_.path(), alice_.user_id);
  testing::plant_file(legacy, testing::keychain_file(records));
  const std::string before = testing::read_file(legacy);
  auto got = keychain().load_identity(request());
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind(), KeychainError::NoSafeKeychain);
  EXPECT_EQ(testing::read_file(legacy), before);
}

}  // namespace
}  // namespace ostrel::keychain
