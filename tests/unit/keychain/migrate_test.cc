// Moving identities out of the combined and legacy keychain.cord layouts: what each split
// writes, keeps, refuses and removes, and reruns from every interrupted state.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "keychain/files.h"
#include "keychain/layout.h"
#include "keychain/migrate_internal.h"
#include "support/keychain.h"
#include "support/scratch.h"

namespace ostrel::keychain {
namespace {

using testing::ScratchDir;

const std::vector<std::uint8_t> kRoot(32, 0x11);
const std::vector<std::uint8_t> kOtherRoot(32, 0x12);
const std::vector<std::uint8_t> kAlice(32, 0x22);
const std::vector<std::uint8_t> kBob(32, 0x33);
const HashValue kRootId(kRoot);
const UserId kAliceId{HashValue(kAlice)};
const UserId kBobId{HashValue(kBob)};

SealedIdentityV1 sealed(const std::vector<std::uint8_t>& root, const std::vector<std::uint8_t>& user,
                        std::uint8_t fill = 3) {
  return SealedIdentityV1{.root = root, .user = user, .kdf = testing::cheap_kdf(),
                          .salt = std::vector<std::uint8_t>(16, 1), .nonce = std::vector<std::uint8_t>(12, 2),
                          .ciphertext = std::vector<std::uint8_t>(52, fill)};
}

KeychainRecords records_of(std::vector<KeychainRecordV1> records) {
  KeychainRecords set;
  for (auto& r : records) set.insert(std::move(r));
  return set;
}

std::optional<SealedIdentityV1> identity_at(const std::filesystem::path& base, const std::vector<std::uint8_t>& user) {
  const UserId id{HashValue(user)};
  auto got = read_identity(identity_path(base, kRootId, id), kRootId, id);
  if (!got) ADD_FAILURE() << got.error().message();
  return got ? *got : std::nullopt;
}

class CombinedSplit : public ::testing::Test {
 protected:
  std::filesystem::path base() const { return dir_.path(); }
  std::filesystem::path combined() const { return combined_keychain_path(base(), kRootId); }
  void plant(std::vector<KeychainRecordV1> records) {
    testing::plant_file(combined(), testing::keychain_file(records_of(std::move(records))));
  }
  ScratchDir dir_;
};

TEST_F(CombinedSplit, NoFileReadsAndWritesNothing) {
  ASSERT_TRUE(split_combined_keychain(base(), kRootId));
  EXPECT_TRUE(testing::entries(base()).empty());
}

TEST_F(CombinedSplit, MovesIdentitiesAndSelectorThenRemovesTheFile) {
  testing::ScopedUmask umask(0);
  const CurrentUserV1 selector{kAlice, "alice"};
  plant({testing::identity_record(sealed(kRoot, kAlice)), testing::identity_record(sealed(kRoot, kBob)),
         testing::current_user_record(selector)});
  ASSERT_TRUE(split_combined_keychain(base(), kRootId));
  EXPECT_EQ(identity_at(base(), kAlice), sealed(kRoot, kAlice));
  EXPECT_EQ(identity_at(base(), kBob), sealed(kRoot, kBob));
  EXPECT_EQ(**read_current_user_file(current_user_path(base(), kRootId)), selector);
  EXPECT_FALSE(std::filesystem::exists(combined()));
  EXPECT_EQ(testing::mode_of(identity_path(base(), kRootId, kAliceId)), 0600u);
  EXPECT_EQ(testing::mode_of(identity_path(base(), kRootId, kAliceId).parent_path()), 0700u);
  EXPECT_EQ(testing::mode_of(current_user_path(base(), kRootId)), 0600u);
}

TEST_F(CombinedSplit, RerunsFromEveryInterruptedState) {
  const CurrentUserV1 selector{kBob, std::nullopt};
  struct Case {
    const char* name;
    bool alice_written, bob_written, selector_written, combined_present;
  };
  const std::vector<Case> cases{
      {"nothing moved yet", false, false, false, true},
      {"first identity written", true, false, false, true},
      {"both identities written", true, true, false, true},
      {"everything written, combined file still there", true, true, true, true},
      {"already finished", true, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const auto& b = dir.path();
    if (c.combined_present) {
      testing::plant_file(combined_keychain_path(b, kRootId),
                          testing::keychain_file(records_of({testing::identity_record(sealed(kRoot, kAlice)),
                                                             testing::identity_record(sealed(kRoot, kBob)),
                                                             testing::current_user_record(selector)})));
    }
    if (c.alice_written) testing::plant_file(identity_path(b, kRootId, kAliceId), testing::identity_file(sealed(kRoot, kAlice)));
    if (c.bob_written) testing::plant_file(identity_path(b, kRootId, kBobId), testing::identity_file(sealed(kRoot, kBob)));
    if (c.selector_written) testing::plant_file(current_user_path(b, kRootId), testing::current_user_file(selector));
    ASSERT_TRUE(split_combined_keychain(b, kRootId));
    ASSERT_TRUE(split_combined_keychain(b, kRootId));  // and once more: nothing left to do
    EXPECT_EQ(identity_at(b, kAlice), sealed(kRoot, kAlice));
    EXPECT_EQ(identity_at(b, kBob), sealed(kRoot, kBob));
    EXPECT_EQ(**read_current_user_file(current_user_path(b, kRootId)), selector);
    EXPECT_FALSE(std::filesystem::exists(combined_keychain_path(b, kRootId)));
  }
}

TEST_F(CombinedSplit, RefusalsBeforeAnythingIsWritten) {
  struct Case {
    const char* name;
    std::vector<KeychainRecordV1> records;
    std::string_view reason;
  };
  const std::vector<std::uint8_t> body{1, 2, 3};
  const std::vector<Case> cases{
      {"unknown record beside identities",
       {testing::identity_record(sealed(kRoot, kAlice)), testing::unknown_record(7, body)},
       KeychainError::kCombinedUnknownRecords},
      {"two selectors",
       {testing::identity_record(sealed(kRoot, kAlice)), testing::current_user_record({kAlice, std::nullopt}),
        testing::current_user_record({kBob, std::nullopt})},
       KeychainError::kCombinedManyCurrentUsers},
      {"identity of another root", {testing::identity_record(sealed(kOtherRoot, kAlice))},
       KeychainError::kCombinedOtherRoot},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const auto path = combined_keychain_path(dir.path(), kRootId);
    testing::plant_file(path, testing::keychain_file(records_of(c.records)));
    auto got = split_combined_keychain(dir.path(), kRootId);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().kind(), KeychainError::InvalidFile);
    EXPECT_EQ(got.error().path(), path);
    EXPECT_EQ(got.error().reason(), c.reason);
    EXPECT_EQ(testing::entries(path.parent_path()), std::vector<std::string>{"keychain.cord"});
  }
}

TEST_F(CombinedSplit, WhichFailureIsReportedFollowsTheFileOrder) {
  // A second selector and a foreign identity: whichever comes first in the file's order is the
  // one reported, on every run. Long labels put the selectors after the identity.
  for (bool long_labels : {false, true}) {
    SCOPED_TRACE(long_labels);
    const std::string label = long_labels ? std::string(200, 'x') : "";
    ScratchDir dir;
    const auto path = combined_keychain_path(dir.path(), kRootId);
    testing::plant_file(path, testing::keychain_file(records_of(
                                  {testing::current_user_record({kAlice, label + "a"}),
                                   testing::current_user_record({kBob, label + "b"}),
                                   testing::identity_record(sealed(kOtherRoot, kAlice))})));
    for (int run = 0; run < 3; ++run) {
      auto got = split_combined_keychain(dir.path(), kRootId);
      ASSERT_FALSE(got);
      EXPECT_EQ(got.error().reason(),
                long_labels ? KeychainError::kCombinedOtherRoot : KeychainError::kCombinedManyCurrentUsers);
    }
  }
}

TEST_F(CombinedSplit, TwoIdentitiesOfOneUserWriteTheFirstAndConflict) {
  const SealedIdentityV1 first = sealed(kRoot, kAlice, 3), second = sealed(kRoot, kAlice, 4);
  plant({testing::identity_record(second), testing::identity_record(first)});
  auto got = split_combined_keychain(base(), kRootId);
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().reason(), KeychainError::kSplitIdentityConflict);
  EXPECT_EQ(got.error().path(), identity_path(base(), kRootId, kAliceId));
  // Equal lengths: the smaller ciphertext comes first in the file.
  EXPECT_EQ(identity_at(base(), kAlice), first);
  EXPECT_TRUE(std::filesystem::exists(combined()));
}

TEST_F(CombinedSplit, ExistingDifferentSelectorConflicts) {
  plant({testing::current_user_record({kAlice, std::nullopt})});
  testing::plant_file(current_user_path(base(), kRootId), testing::current_user_file({kAlice, ""}));
  auto got = split_combined_keychain(base(), kRootId);
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().reason(), KeychainError::kSplitCurrentUserConflict);
  EXPECT_TRUE(std::filesystem::exists(combined()));
}

TEST_F(CombinedSplit, EmptyFileIsRemoved) {
  plant({});
  ASSERT_TRUE(split_combined_keychain(base(), kRootId));
  EXPECT_FALSE(std::filesystem::exists(combined()));
}

TEST(IdentitiesForRoot, CanonicalOrderWhateverTheInsertionOrder) {
  const auto a = testing::identity_record(sealed(kRoot, kAlice, 9));
  const auto b = testing::identity_record(sealed(kRoot, kBob, 1));
  const auto other = testing::identity_record(sealed(kOtherRoot, kAlice));
  for (const auto& set : {records_of({a, b, other}), records_of({other, b, a})}) {
    const auto got = identities_for_root(set, kRootId);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], sealed(kRoot, kAlice, 9));  // alice's user bytes sort first
    EXPECT_EQ(got[1], sealed(kRoot, kBob, 1));
    EXPECT_EQ(remaining_records(set, kRootId), records_of({other}));
  }
}

class LegacySplit : public ::testing::Test {
 protected:
  std::filesystem::path base() const { return dir_.path(); }
  // The legacy file found in alice's folder.
  std::filesystem::path legacy() const { return legacy_keychain_path(base(), kAliceId); }
  void plant(std::vector<KeychainRecordV1> records) {
    testing::plant_file(legacy(), testing::keychain_file(records_of(std::move(records))));
  }
  ScratchDir dir_;
};

TEST_F(LegacySplit, OtherRootsOnlyLeavesTheFileAsItIs) {
  plant({testing::identity_record(sealed(kOtherRoot, kAlice)), testing::unknown_record(9, std::vector<std::uint8_t>{})});
  const std::string before = testing::read_file(legacy());
  ASSERT_TRUE(split_legacy_keychain(base(), kRootId, legacy()));
  EXPECT_EQ(testing::read_file(legacy()), before);
  EXPECT_FALSE(identity_at(base(), kAlice));
}

TEST_F(LegacySplit, MovesWhateverUserItHoldsAndRemovesTheFile) {
  plant({testing::identity_record(sealed(kRoot, kBob))});
  ASSERT_TRUE(split_legacy_keychain(base(), kRootId, legacy()));
  EXPECT_EQ(identity_at(base(), kBob), sealed(kRoot, kBob));
  EXPECT_FALSE(identity_at(base(), kAlice));
  EXPECT_FALSE(std::filesystem::exists(legacy()));
}

TEST_F(LegacySplit, RewritesWhatRemainsByteForByte) {
  const std::vector<std::uint8_t> body{0xfe, 0xed};
  const auto unknown = testing::unknown_record(42, body);
  const auto selector = testing::current_user_record({kAlice, std::nullopt});
  const auto foreign = testing::identity_record(sealed(kOtherRoot, kAlice));
  plant({testing::identity_record(sealed(kRoot, kAlice)), unknown, selector, foreign});
  ASSERT_TRUE(split_legacy_keychain(base(), kRootId, legacy()));
  EXPECT_EQ(identity_at(base(), kAlice), sealed(kRoot, kAlice));
  const auto rest = testing::keychain_file(records_of({unknown, selector, foreign}));
  EXPECT_EQ(testing::read_file(legacy()), std::string(rest.begin(), rest.end()));
}

TEST_F(LegacySplit, RerunsFromEveryInterruptedState) {
  const auto selector = testing::current_user_record({kAlice, std::nullopt});
  struct Case {
    const char* name;
    bool identity_written;
    bool legacy_rewritten;
  };
  const std::vector<Case> cases{
      {"nothing moved yet", false, false},
      {"identity written, legacy file untouched", true, false},
      {"identity written, legacy file rewritten", true, true},
  };
  const auto rest = testing::keychain_file(records_of({selector}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const auto path = legacy_keychain_path(dir.path(), kAliceId);
    if (c.legacy_rewritten) {
      testing::plant_file(path, rest);
    } else {
      testing::plant_file(path, testing::keychain_file(records_of({testing::identity_record(sealed(kRoot, kAlice)),
                                                                   selector})));
    }
    if (c.identity_written) {
      testing::plant_file(identity_path(dir.path(), kRootId, kAliceId), testing::identity_file(sealed(kRoot, kAlice)));
    }
    ASSERT_TRUE(split_legacy_keychain(dir.path(), kRootId, path));
    ASSERT_TRUE(split_legacy_keychain(dir.path(), kRootId, path));
    EXPECT_EQ(identity_at(dir.path(), kAlice), sealed(kRoot, kAlice));
    EXPECT_EQ(testing::read_file(path), std::string(rest.begin(), rest.end()));
  }
}

TEST_F(LegacySplit, ConflictKeepsBothFiles) {
  plant({testing::identity_record(sealed(kRoot, kAlice, 3))});
  testing::plant_file(identity_path(base(), kRootId, kAliceId), testing::identity_file(sealed(kRoot, kAlice, 4)));
  auto got = split_legacy_keychain(base(), kRootId, legacy());
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().reason(), KeychainError::kSplitIdentityLegacyConflict);
  EXPECT_TRUE(std::filesystem::exists(legacy()));
  EXPECT_EQ(identity_at(base(), kAlice), sealed(kRoot, kAlice, 4));
}

TEST_F(LegacySplit, TakesTheFoldersLock) {
  plant({testing::identity_record(sealed(kRoot, kAlice))});
  auto held = acquire_lock(legacy().parent_path() / "keychain.lock");
  ASSERT_TRUE(held);
  // Another handle holds it now, so the split could only proceed once it is released.
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    held->release();
  });
  const auto start = std::chrono::steady_clock::now();
  auto got = split_legacy_keychain(base(), kRootId, legacy());
  const auto waited = std::chrono::steady_clock::now() - start;
  release.join();
  ASSERT_TRUE(got) << got.error().message();
  EXPECT_GE(waited, std::chrono::milliseconds(200));
  EXPECT_FALSE(std::filesystem::exists(legacy()));
}

}  // namespace
}  // namespace ostrel::keychain
