// The keychain road on real files: a keychain written by the fixture tool, the current user's
// verification cache read at opening, the identity unlocked with a given passphrase, and the
// refusals (wrong passphrase, an identity only for another root, not a member, a pending
// transaction for a writing purpose).
#include <gtest/gtest.h>

#include <memory>

#include "keychain/passphrase_keychain.h"
#include "ops/keychain_road.h"
#include "ops/read_secret.h"
#include "store/ratchet_file.h"
#include "support/fixture/keychain_writer.h"
#include "support/secret_text.h"
#include "unit/ops/scene.h"

namespace ostrel::ops::test {
namespace {

// alice (fill 2) and carol (fill 4) sealed under "pw" for the vault's root, bob (fill 3) only for
// another root; alice is the root's current user.
class KeychainRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    Json team = team_with_secrets();
    team["ratchet"] = "derived";
    ws_.write(team);
    Json spec;
    spec["root"] = testing::to_hex(scenario_root().bytes);
    spec["identities"] = Json::array({{{"seed", seed_hex(2)}, {"passphrase", "pw"}},
                                      {{"seed", seed_hex(4)}, {"passphrase", "pw"}},
                                      {{"seed", seed_hex(3)}, {"passphrase", "pw"}, {"root", std::string(64, '7')}}});
    spec["current_user"]["user"] = testing::to_hex(testing::identity_of(2).user_id.value.bytes);
    auto written = fixture::write_keychain(spec, base());
    ASSERT_TRUE(written) << written.error().message;
  }

  std::filesystem::path base() const { return ws_.dir() / "keychain"; }
  keychain::PassphraseKeychain keychain(const char* passphrase) const {
    return {base(), std::make_shared<keychain::GivenPassphrase>(testing::secret_of(passphrase))};
  }
  OpsResult<VaultSession> authenticate(std::uint8_t fill, const char* passphrase,
                                       keychain::UnlockPurpose purpose = {keychain::UnlockPurpose::Custom{"test"}}) {
    OSTREL_TRY_ASSIGN(OpenVault open, OpenVault::open(ws_.paths()));
    return authenticate_session(std::move(open), keychain(passphrase), testing::identity_of(fill).user_id,
                                std::move(purpose));
  }

  OpsWorkspace ws_;
  testing::ScopedEnv env_{"OSTREL_KEYCHAIN_DIR", (ws_.dir() / "keychain").string()};
};

TEST_F(KeychainRoad, UnlocksReadsAndWarmsTheCache) {
  auto alice = authenticate(2, "pw");
  ASSERT_TRUE(alice) << alice.error().message();
  auto read = read_secret(*alice, kDb);
  ASSERT_TRUE(read) << read.error().message();
  EXPECT_EQ(testing::text_of(read->value), "hunter2");
  // The next opening finds alice's cache through the keychain's current user.
  auto warm = OpenVault::open(ws_.paths());
  ASSERT_TRUE(warm) << warm.error().message();
  ASSERT_TRUE(warm->cache_signer);
  EXPECT_TRUE(std::ranges::equal(*warm->cache_signer, testing::identity_of(2).signing_public_key));
}

// An opening that trusted alice's own cache leaves the ratchet raise to the session, which
// writes it once alice is unlocked.
TEST_F(KeychainRoad, WarmOpeningRaisesTheStoredRatchet) {
  ASSERT_TRUE(authenticate(2, "pw"));  // writes alice's cache
  Json team = team_with_secrets();
  team["ratchet"] = Json::parse(R"({"counters": []})");  // remembers only the root
  ws_.write(team);
  auto warm = OpenVault::open(ws_.paths());
  ASSERT_TRUE(warm && warm->cache_signer);
  auto alice = authenticate(2, "pw");
  ASSERT_TRUE(alice) << alice.error().message();
  auto stored = store::load_ratchet(ws_.paths(), scenario_root());
  ASSERT_TRUE(stored && *stored);
  EXPECT_EQ(**stored, alice->open.ratchet);
  EXPECT_EQ((*stored)->counters.at(core::EntityKey(core::entity::Secret{*core::derive_secret_id(kDb)})), 2u);
}

TEST_F(KeychainRoad, Refusals) {
  auto wrong = authenticate(2, "not pw");
  ASSERT_FALSE(wrong);
  EXPECT_EQ(wrong.error().kind(), OpsError::Keychain);
  auto bob = authenticate(3, "pw");  // sealed for another root only
  ASSERT_FALSE(bob);
  EXPECT_EQ(bob.error().message(),
            "no safe identity keychain is available for " + testing::identity_of(3).user_id.debug());
  auto carol = authenticate(4, "pw");
  ASSERT_FALSE(carol);
  EXPECT_EQ(carol.error().message(),
            "identity " + testing::identity_of(4).user_id.debug() + " is not an effective member of this vault");
}

TEST_F(KeychainRoad, PendingTransactionRefusesAWritingPurposeOnly) {
  const std::filesystem::path elsewhere = ws_.dir() / "elsewhere.cord";
  std::filesystem::copy_file(ws_.paths().vault_file, elsewhere);
  Json next = team_with_secrets();
  next["records"].push_back(Json::parse(R"({"kind": "VaultHandle", "handle": "team", "counter": 3})"));
  next["ratchet"] = "derived";
  ws_.leave_journal(next, {.written = "none", .journal_vault = elsewhere});
  auto writing = authenticate(2, "pw");
  ASSERT_FALSE(writing);
  EXPECT_EQ(writing.error().kind(), OpsError::PendingTransaction);
  auto reading = authenticate(2, "pw", {keychain::UnlockPurpose::VerifyVault{}});
  ASSERT_TRUE(reading) << reading.error().message();
  EXPECT_TRUE(reading->open.pending);
}

}  // namespace
}  // namespace ostrel::ops::test
