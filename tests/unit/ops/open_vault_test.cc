// Opening a vault on real files and the roads to a session: by invitation (a fresh state folder
// seeded from the baseline, a vault rolled back past it, another root, a stranger, a crash left
// behind) and by an identity; the ratchet raised after opening; the verification cache trusted
// at opening and checked again for another key, the ratchet written only from a state whose
// signatures the session's identity vouched for or checked.
#include <gtest/gtest.h>

#include "core/ids.h"
#include "ops/read_secret.h"
#include "ops/session.h"
#include "ops/write_secret.h"
#include "store/ratchet_file.h"
#include "support/scratch.h"
#include "support/secret_text.h"
#include "unit/ops/scene.h"

namespace ostrel::ops::test {
namespace {

TEST(InviteRoad, FreshStateFolderOutcomes) {
  const Json team = team_with_secrets();
  const std::string carol = testing::identity_of(4).user_id.debug();
  struct Case {
    const char* name;
    fixture::InviteOptions options;
    std::string want;  // empty: a session
  };
  const Case cases[] = {
      {"full_baseline", {.identity = "bob"}, ""},
      {"empty_baseline_seeds_from_the_vault", {.identity = "bob", .baseline = "empty"}, ""},
      {"rolled_back_past_the_baseline", {.identity = "bob", .baseline = kDbAt5},
       "the vault has been rolled back past the invite baseline"},
      {"another_root", {.identity = "bob", .root_key_id_hex = std::string(64, 'a')},
       "the invitation is for a different vault root"},
      {"not_a_member", {.identity = "carol"}, "claimed identity " + carol + " is not a current member of this vault"},
      {"no_baseline_nothing_remembered", {.identity = "bob", .baseline = "none"},
       "a rollback-protected invitation is required to establish trust non-interactively"},
  };
  for (const Case& c : cases) {
    OpsWorkspace ws;
    ws.write(team);
    auto session = open_session_from_invite(ws.paths(), invite_for(team, c.options), kNoKeychain);
    const auto ratchet = file_bytes(ws.ratchet_file(scenario_root()));
    if (c.want.empty()) {
      ASSERT_TRUE(session) << c.name << ": " << session.error().message();
      EXPECT_EQ(session->identity.user_id, testing::identity_of(3).user_id) << c.name;
      ASSERT_TRUE(ratchet) << c.name;
      // The seeded ratchet remembers the vault's counters.
      auto stored = store::load_ratchet(ws.paths(), scenario_root());
      ASSERT_TRUE(stored && *stored) << c.name;
      EXPECT_EQ((*stored)->counters.at(core::EntityKey(core::entity::Secret{*core::derive_secret_id(kDb)})), 2u);
    } else {
      ASSERT_FALSE(session) << c.name;
      EXPECT_EQ(session.error().message(), c.want) << c.name;
      EXPECT_FALSE(ratchet) << c.name << ": no ratchet is written";
      if (c.options.root_key_id_hex) {
        EXPECT_FALSE(std::filesystem::exists(ws.paths().state_lock_path(scenario_root().bytes))) << "no lock taken";
      }
    }
  }
}

TEST(InviteRoad, RememberedRatchetPrevailsOverTheBaseline) {
  const Json team = team_with_secrets();
  OpsWorkspace ws;
  ws.write(team);
  ASSERT_TRUE(open_session_from_invite(ws.paths(), invite_for(team, {.identity = "bob"}), kNoKeychain));
  const auto ratchet = file_bytes(ws.ratchet_file(scenario_root()));
  // Once trusted, neither a missing nor a stricter baseline matters.
  for (const char* baseline : {"none", kDbAt5}) {
    auto again = open_session_from_invite(ws.paths(), invite_for(team, {.identity = "bob", .baseline = baseline}),
                                          kNoKeychain);
    EXPECT_TRUE(again) << baseline << ": " << again.error().message();
  }
  EXPECT_EQ(file_bytes(ws.ratchet_file(scenario_root())), ratchet);
}

// The team vault with one more secret and its derived ratchet: the files a write interrupted by
// a crash was about to leave.
Json team_after_write() {
  Json s = team_with_secrets();
  s["records"].push_back(Json::parse(R"({"kind": "Secret", "signer": "alice", "counter": 3,
      "selector": {"tuple": ["app", "late"]}, "value": "late"})"));
  s["ratchet"] = "derived";
  return s;
}

TEST(InviteRoad, CompletesAWriteACrashLeftBehind) {
  const Json team = team_with_secrets();
  for (const char* written : {"none", "ratchet"}) {
    OpsWorkspace ws;
    ws.write(team);  // a fresh state folder: nothing remembered for the root
    ws.leave_journal(team_after_write(), {.written = written, .journal_vault = std::nullopt});
    auto bob = open_session_from_invite(ws.paths(), invite_for(team, {.identity = "bob"}), kNoKeychain);
    ASSERT_TRUE(bob) << written << ": " << bob.error().message();
    EXPECT_FALSE(bob->open.pending) << written;
    EXPECT_FALSE(std::filesystem::exists(ws.paths().transaction_path(scenario_root().bytes))) << written;
    auto late = read_secret(*bob, core::SecretSelectorV1{{"app", "late"}, {}});
    ASSERT_TRUE(late) << written << ": " << late.error().message();
  }
}

TEST(OpenVault, PendingJournalOfThisVaultIsCompletedAndOfAnotherStaysPending) {
  Json team = team_with_secrets();
  team["ratchet"] = "derived";
  {
    OpsWorkspace ws;
    ws.write(team);
    ws.leave_journal(team_after_write(), {});
    VaultSession alice = must_open(ws.paths(), 2);
    EXPECT_FALSE(alice.open.pending);
    EXPECT_TRUE(read_secret(alice, core::SecretSelectorV1{{"app", "late"}, {}}));
  }
  OpsWorkspace ws;
  ws.write(team);
  const std::filesystem::path elsewhere = ws.dir() / "elsewhere.cord";
  std::filesystem::copy_file(ws.paths().vault_file, elsewhere);
  ws.leave_journal(team_after_write(), {.written = "none", .journal_vault = elsewhere});
  const auto ratchet = file_bytes(ws.ratchet_file(scenario_root()));
  VaultSession alice = must_open(ws.paths(), 2);
  ASSERT_TRUE(alice.open.pending);
  EXPECT_EQ(file_bytes(ws.ratchet_file(scenario_root())), ratchet);  // not raised while pending
  auto w = set_secret(alice, core::SecretSelectorV1{{"app", "x"}, {}}, testing::bytes("v"));
  ASSERT_FALSE(w);
  EXPECT_EQ(w.error().kind(), OpsError::PendingTransaction);
  EXPECT_TRUE(w.error().message().ends_with(" blocks writes for this vault")) << w.error().message();
  // The invitation road meets the same journal in its preflight, before the ratchet is looked at.
  auto bob = open_session_from_invite(ws.paths(), invite_for(team, {.identity = "bob"}), kNoKeychain);
  ASSERT_FALSE(bob);
  EXPECT_EQ(bob.error().message(), w.error().message());
}

// The scenario with its last record replaced by the same record whose signature no longer
// verifies.
Json with_last_signature_broken(Json scenario) {
  auto built = fixture::build_scenario(scenario);
  EXPECT_TRUE(built) << built.error().message;
  if (!built) return scenario;
  const core::VaultRecordV1& last = built->records.back();
  cord::ByteString signature = last.signature();
  signature[0] ^= 1;
  auto damaged = cord::to_vec(core::VaultRecordV1(last.body(), last.signing_public_key(), signature));
  EXPECT_TRUE(damaged);
  if (damaged) scenario["records"].back() = Json{{"raw", testing::to_hex(*damaged)}};
  return scenario;
}

// A record whose signature no longer verifies hides behind a cache that lists its hash: the
// opening trusts the cache, and only the cache's own signer may use that state; another identity
// makes every signature be checked again and is refused.
TEST(OpenVault, ForeignCacheIsCheckedAgainWhenTheSessionIsEstablished) {
  Json team = with_last_signature_broken(team_with_secrets());
  team["ratchet"] = "derived";
  OpsWorkspace ws;
  ws.write(team);
  const crypto::Identity bob = testing::identity_of(3);
  ws.write_cache(bob);

  auto for_bob = OpenVault::open(ws.paths(), current_user_is(bob.user_id));
  ASSERT_TRUE(for_bob) << for_bob.error().message();
  EXPECT_TRUE(for_bob->state.issues.empty());
  EXPECT_TRUE(VaultSession::establish(std::move(*for_bob), bob.clone()));

  auto for_alice = OpenVault::open(ws.paths(), current_user_is(bob.user_id));
  ASSERT_TRUE(for_alice) << for_alice.error().message();
  auto alice = VaultSession::establish(std::move(*for_alice), testing::identity_of(2));
  ASSERT_FALSE(alice);
  EXPECT_EQ(alice.error().message().rfind("validation failed: [InvalidSignature", 0), 0u) << alice.error().message();
}

// A forged record with a high counter behind a cache another key signed: the session is
// refused, and the counter only the cache vouched for is not remembered, so the honest vault
// does not look rolled back afterwards.
TEST(OpenVault, ForeignCacheLeavesNoUncheckedCounterInTheRatchet) {
  Json honest = team_with_secrets();
  honest["ratchet"] = "derived";
  OpsWorkspace ws;
  ws.write(honest);
  const auto ratchet_before = file_bytes(ws.ratchet_file(scenario_root()));
  ASSERT_TRUE(ratchet_before);
  Json forged = team_with_secrets();
  forged["records"].push_back(Json::parse(R"({"kind": "Secret", "signer": "alice", "counter": 1000,
      "selector": {"tuple": ["app", "db"], "labels": {"env": "prod"}}, "value": "forged"})"));
  ws.write(with_last_signature_broken(forged));  // the vault file only: no "ratchet"
  const crypto::Identity bob = testing::identity_of(3);
  ws.write_cache(bob);  // lists the forged record's hash

  auto opened = OpenVault::open(ws.paths(), current_user_is(bob.user_id));
  ASSERT_TRUE(opened) << opened.error().message();
  ASSERT_TRUE(opened->state.issues.empty()) << "the cache vouched for the forged record";
  auto alice = VaultSession::establish(std::move(*opened), testing::identity_of(2));
  ASSERT_FALSE(alice);
  EXPECT_EQ(alice.error().kind(), OpsError::Validation) << alice.error().message();
  auto stored = store::load_ratchet(ws.paths(), scenario_root());
  ASSERT_TRUE(stored && *stored);
  EXPECT_EQ((*stored)->counters.at(core::EntityKey(core::entity::Secret{*core::derive_secret_id(kDb)})), 2u);
  EXPECT_TRUE(file_bytes(ws.ratchet_file(scenario_root())) == ratchet_before) << "ratchet.cord was written";

  honest.erase("ratchet");
  ws.write(honest);
  auto again = session_of(ws.paths(), 2);
  ASSERT_TRUE(again) << again.error().message();
  auto read = read_secret(*again, kDb);
  ASSERT_TRUE(read) << read.error().message();
  EXPECT_EQ(testing::text_of(read->value), "hunter2");
}

// An opening that trusted a cache writes the raised ratchet once the session's identity is
// known: at once for the cache's own signer, after every signature was checked for another.
TEST(OpenVault, TrustedCacheRaisesTheStoredRatchetForTheSession) {
  const crypto::Identity bob = testing::identity_of(3);
  for (std::uint8_t fill : {std::uint8_t{3}, std::uint8_t{2}}) {
    OpsWorkspace ws;
    Json team = team_with_secrets();
    team["ratchet"] = Json::parse(R"({"counters": []})");  // remembers only the root
    ws.write(team);
    ws.write_cache(bob);
    auto opened = OpenVault::open(ws.paths(), current_user_is(bob.user_id));
    ASSERT_TRUE(opened) << opened.error().message();
    ASSERT_TRUE(opened->cache_signer);
    auto session = VaultSession::establish(std::move(*opened), testing::identity_of(fill));
    ASSERT_TRUE(session) << int(fill) << ": " << session.error().message();
    auto stored = store::load_ratchet(ws.paths(), scenario_root());
    ASSERT_TRUE(stored && *stored) << int(fill);
    EXPECT_EQ(**stored, session->open.ratchet) << int(fill);
    EXPECT_EQ((*stored)->counters.at(core::EntityKey(core::entity::Secret{*core::derive_secret_id(kDb)})), 2u)
        << int(fill);
  }
}

TEST(OpenVault, MissingRatchetAndIssues) {
  OpsWorkspace ws;
  ws.write(team_with_secrets());  // no ratchet
  auto open = OpenVault::open(ws.paths(), kNoKeychain);
  ASSERT_FALSE(open);
  EXPECT_EQ(open.error().message(),
            "workspace is missing ratchet state at " + ws.ratchet_file(scenario_root()).string());

  // A record signed by a key the vault does not know: the vault opens, with issues, writes no
  // ratchet, and no session is established on it.
  Json invalid = team_with_secrets();
  invalid["ratchet"] = "derived";
  invalid["records"].push_back(Json::parse(R"({"kind": "Secret", "signer": "carol", "counter": 3,
      "selector": {"tuple": ["app", "x"]}, "value": "v", "readers": ["carol"]})"));
  OpsWorkspace bad;
  bad.write(invalid);
  const auto ratchet = file_bytes(bad.ratchet_file(scenario_root()));
  auto opened = OpenVault::open(bad.paths(), kNoKeychain);
  ASSERT_TRUE(opened) << opened.error().message();
  EXPECT_FALSE(opened->state.issues.empty());
  EXPECT_EQ(file_bytes(bad.ratchet_file(scenario_root())), ratchet);
  auto session = VaultSession::establish(std::move(*opened), testing::identity_of(2));
  ASSERT_FALSE(session);
  EXPECT_EQ(session.error().message().rfind("validation failed: [", 0), 0u) << session.error().message();
}

TEST(OpenVault, WrongRootAndStranger) {
  OpsWorkspace ws;
  Json team = team_with_secrets();
  team["ratchet"] = "derived";
  ws.write(team);
  auto stranger = session_of(ws.paths(), 4);
  ASSERT_FALSE(stranger);
  EXPECT_EQ(stranger.error().message(),
            "identity " + testing::identity_of(4).user_id.debug() + " is not an effective member of this vault");

  // A vault without a self-signed root.
  OpsWorkspace rootless;
  Json no_root = with_identities(fixture::test::kTeamRecords);
  no_root["root_record"] = false;
  rootless.write(no_root);
  auto open = OpenVault::open(rootless.paths(), kNoKeychain);
  ASSERT_FALSE(open);
  EXPECT_EQ(open.error().kind(), OpsError::NoSelfSignedRoot);
}

TEST(OpenVault, RaisesTheRatchetToTheVault) {
  OpsWorkspace ws;
  Json team = team_with_secrets();
  team["ratchet"] = Json::parse(R"({"counters": []})");  // remembers only the root
  ws.write(team);
  auto open = OpenVault::open(ws.paths(), kNoKeychain);
  ASSERT_TRUE(open) << open.error().message();
  auto stored = store::load_ratchet(ws.paths(), scenario_root());
  ASSERT_TRUE(stored && *stored);
  EXPECT_EQ(**stored, open->ratchet);
  EXPECT_EQ((*stored)->counters.at(core::EntityKey(core::entity::Secret{*core::derive_secret_id(kDb)})), 2u);
}

TEST(OpenVault, VerificationCacheTrustedThenCheckedForAnotherKey) {
  OpsWorkspace ws;
  Json team = team_with_secrets();
  team["ratchet"] = "derived";
  ws.write(team);
  const crypto::Identity bob = testing::identity_of(3);
  // bob's session writes bob's cache; the next opening for bob trusts it.
  ASSERT_TRUE(session_of(ws.paths(), 3));
  EXPECT_TRUE(std::filesystem::exists(ws.paths().cache_path(scenario_root().bytes, bob.user_id.value.bytes)));
  auto warm = OpenVault::open(ws.paths(), current_user_is(bob.user_id));
  ASSERT_TRUE(warm) << warm.error().message();
  ASSERT_TRUE(warm->cache_signer);
  EXPECT_TRUE(std::ranges::equal(*warm->cache_signer, bob.signing_public_key));
  auto cold = OpenVault::open(ws.paths(), kNoKeychain);
  ASSERT_TRUE(cold);
  EXPECT_FALSE(cold->cache_signer);
  EXPECT_EQ(warm->state.records.size(), cold->state.records.size());

  // alice establishes a session on the opening that trusted bob's cache: every signature is
  // checked again, and the cache written is alice's.
  auto alice = VaultSession::establish(std::move(*warm), testing::identity_of(2));
  ASSERT_TRUE(alice) << alice.error().message();
  EXPECT_FALSE(alice->open.cache_signer);
  const crypto::Identity& a = alice->identity;
  EXPECT_TRUE(std::filesystem::exists(ws.paths().cache_path(scenario_root().bytes, a.user_id.value.bytes)));
}

// A warm session whose own cache already lists exactly its state's records leaves the file as it
// is; once the vault holds a record the cache does not list, the next session writes it again.
TEST(OpenVault, CacheIsWrittenOnlyWhenItsContentChanges) {
  OpsWorkspace ws;
  Json team = team_with_secrets();
  team["ratchet"] = "derived";
  ws.write(team);
  const crypto::Identity bob = testing::identity_of(3);
  const std::filesystem::path cache = ws.paths().cache_path(scenario_root().bytes, bob.user_id.value.bytes);
  auto bob_session = [&] {
    auto opened = OpenVault::open(ws.paths(), current_user_is(bob.user_id));
    EXPECT_TRUE(opened) << opened.error().message();
    return VaultSession::establish(std::move(*opened), bob.clone());
  };
  ASSERT_TRUE(bob_session());  // cold: writes bob's cache
  const std::string written = testing::read_file(cache);
  const auto first = std::filesystem::last_write_time(cache);
  const auto inode = testing::inode_of(cache);

  ASSERT_TRUE(bob_session());  // warm, nothing new: the same file stays
  EXPECT_EQ(testing::inode_of(cache), inode);
  EXPECT_EQ(std::filesystem::last_write_time(cache), first);

  VaultSession writer = must_open(ws.paths(), 2);
  ASSERT_TRUE(set_secret(writer, core::SecretSelectorV1{{"app", "fresh"}, {}}, testing::bytes("v")));
  ASSERT_TRUE(bob_session());  // the cache lacks the new record: written again
  EXPECT_NE(testing::inode_of(cache), inode);
  EXPECT_NE(testing::read_file(cache), written);
}

}  // namespace
}  // namespace ostrel::ops::test
