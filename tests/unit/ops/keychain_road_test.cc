// The keychain road on real files: a keychain written by the fixture tool, the current user's
// verification cache read at opening, the identity unlocked with a given passphrase, and the
// refusals (wrong passphrase, an identity only for another root, not a member, a pending
// transaction for a writing purpose); and the unlock of the session's identity for a state.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/ids.h"
#include "keychain/passphrase_keychain.h"
#include "ops/read_secret.h"
#include "ops/session.h"
#include "store/ratchet_file.h"
#include "support/fixture/keychain_writer.h"
#include "support/keychain.h"
#include "support/secret_text.h"
#include "unit/keychain/alice_keychain.h"
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

// The keychain's share of the road: the identity unlocked for a state, named in the prompt by
// the state's display handles.
using keychain::UnlockPurpose;
using keychain::test::bytes;
using keychain::test::kRoot;
using keychain::test::seed_of;

class UnlockSessionIdentity : public keychain::test::AliceKeychain {};

// A state with an effective root, alice and bob in effect, handles for the prompt.
validate::VaultState state_with(const std::vector<const crypto::Identity*>& users) {
  validate::VaultState state;
  state.root_key_id = HashValue(kRoot);
  for (const crypto::Identity* u : users) state.users.emplace(u->user_id, core::RecordPart<core::UserRecordV1>());
  const auto add_handle = [&](const crypto::Identity& u, const char* h) {
    const UserHandleId id = *core::derive_user_handle_id(h);
    state.user_handles.emplace(id, core::RecordPart<core::UserHandleRecordV1>::made({id, cord::Text(h), u.user_id, 1}));
  };
  add_handle(*users.front(), "Zed");
  add_handle(*users.front(), "Alice");
  const VaultHandleId vault = *core::derive_vault_handle_id("acme");
  state.vault_handles.emplace(vault, core::RecordPart<core::VaultHandleRecordV1>::made({vault, cord::Text(" Acme"), 1}));
  return state;
}

TEST_F(UnlockSessionIdentity, NamesVaultAndUserInThePrompt) {
  testing::plant_file(alice_file(), testing::identity_file(sealed_alice()));
  const validate::VaultState state = state_with({&alice_});
  store::WorkspacePaths paths(dir_ / "ws", dir_ / "ws" / ".ostrel");
  auto got = unlock_session_identity(state, paths, keychain(), alice_.user_id,
                                     UnlockPurpose{UnlockPurpose::Custom{"use it"}});
  ASSERT_TRUE(got) << got.error().message();
  EXPECT_EQ(got->user_id, alice_.user_id);
  EXPECT_EQ(provider_->prompt, "Unlock Ostrel keychain for user \"alice\" in project \"acme\" to use it: ");
}

TEST_F(UnlockSessionIdentity, AnotherUsersIdentityIsRefused) {
  // The file of alice holds bob's seed, sealed for alice's name.
  const crypto::Identity bob = testing::identity_of(0xb0);
  testing::plant_file(alice_file(), testing::identity_file(testing::seal_identity(
                                        seed_of(0xb0), kRoot, bytes(alice_.user_id), "pw", testing::cheap_kdf())));
  store::WorkspacePaths paths(dir_ / "ws", dir_ / "ws" / ".ostrel");
  auto got = unlock_session_identity(state_with({&alice_}), paths, keychain(), alice_.user_id,
                                     UnlockPurpose{UnlockPurpose::VerifyVault{}});
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind(), OpsError::KeychainIdentityMismatch);
  EXPECT_EQ(got.error().message(), "keychain returned identity " + bob.user_id.debug() + ", expected " +
                                       alice_.user_id.debug());
}

TEST_F(UnlockSessionIdentity, NeedsAnEffectiveRootAndCarriesKeychainErrors) {
  store::WorkspacePaths paths(dir_ / "ws", dir_ / "ws" / ".ostrel");
  validate::VaultState rootless = state_with({&alice_});
  rootless.root_key_id.reset();
  auto no_root = unlock_session_identity(rootless, paths, keychain(), alice_.user_id, {UnlockPurpose::VerifyVault{}});
  ASSERT_FALSE(no_root);
  EXPECT_EQ(no_root.error().message(), "validated vault is missing an effective root");
  auto missing = unlock_session_identity(state_with({&alice_}), paths, keychain(), alice_.user_id,
                                         {UnlockPurpose::VerifyVault{}});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind(), OpsError::Keychain);
  EXPECT_EQ(missing.error().message(), "no safe identity keychain is available for " + alice_.user_id.debug());
}

}  // namespace
}  // namespace ostrel::ops::test
