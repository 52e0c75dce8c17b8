// The whole derivation on small vaults: clean vaults, rollback, conflicts, unknown and
// ambiguous signers, verified hashes, roots, deletions, and the issue texts.
#include <gtest/gtest.h>

#include "core/ids.h"
#include "core/record_sign.h"
#include "core/validate/derive.h"
#include "core/validate/trust.h"
#include "errors/text_form.h"
#include "support/vault_builder.h"

namespace ostrel::validate {
namespace {

using namespace core;
using testing::identity_of;
using testing::prefix_keyspace;
using testing::VaultBuilder;

struct Scene {
  crypto::Identity root = identity_of(1);
  crypto::Identity alice = identity_of(2);
  crypto::Identity bob = identity_of(3);
  crypto::Identity stranger = identity_of(9);
  VaultBuilder v{root};
  SecretSelectorV1 db{{"app", "db"}, {}};

  Scene() {
    v.add_member(root, alice);
    v.add_member(root, bob);
    v.add_grant(root, PrincipalRefV1(alice.user_id), testing::write_grant(prefix_keyspace({"app"})), 1, 1);
    v.add_grant(root, PrincipalRefV1(bob.user_id), testing::read_grant(prefix_keyspace({"app"})), 2, 1);
  }
  RatchetState fresh() const { return RatchetState::fresh(v.root_identity().key_id); }
  VaultState derive(const RatchetState& remembered, const VerifiedHashes& verified = {}) const {
    const auto records = v.file_order();
    auto s = derive_state(records, remembered, verified);
    EXPECT_TRUE(s) << s.error().message();
    return s ? std::move(*s) : VaultState{};
  }
  VaultState derive() const { return derive(fresh()); }
};

std::string issues_text(const VaultState& s) { return errors::debug_list(s.issues); }

// A ratchet read from its file owns a copy of each secret's selector; sharing them with the state
// makes each equal binding refer to a record's own selector, and leaves every other one alone.
TEST(Derive, RememberedBindingsSharedWithTheRecordsThatStateThem) {
  Scene sc;
  const auto& written = sc.v.add_secret(sc.alice, sc.db, 2, {sc.alice.user_id});
  RatchetState remembered = sc.fresh();
  remembered.apply_record(SecretRatchetRecordV1{*derive_secret_id(sc.db), 2, sc.db});
  const SecretSelectorV1 other{{"app", "gone"}, {}};
  remembered.apply_record(SecretRatchetRecordV1{*derive_secret_id(other), 1, other});
  const VaultState state = sc.derive(remembered);
  const RatchetState before = remembered;

  remembered.share_bindings(state);
  EXPECT_TRUE(remembered == before);  // the same content
  const EntityKey db_key(entity::Secret{*derive_secret_id(sc.db)});
  const auto* record = state.current_secret_record(*derive_secret_id(sc.db));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->record, written);
  EXPECT_EQ(&remembered.bindings.at(db_key).selector(), &std::get<SecretRecordV1>(record->body()).selector);
  // A secret no record states keeps its own copy.
  const EntityKey other_key(entity::Secret{*derive_secret_id(other)});
  EXPECT_EQ(&remembered.bindings.at(other_key).selector(), &before.bindings.at(other_key).selector());
}

// A ratchet loaded beside its vault's records is the state loaded alone, but each secret binding
// that a record (a value or a deletion) states alike refers to that record's selector; a selector
// the vault does not state under the remembered id stays the file's own.
TEST(Derive, RatchetLoadedBesideItsVaultRefersToTheRecordsThatStateItsSecrets) {
  Scene sc;
  const SecretSelectorV1 gone{{"app", "gone"}, {}};
  const SecretSelectorV1 kept{{"app", "kept"}, {}};
  const SecretSelectorV1 bare{{"app", "bare"}, {}};
  sc.v.add_secret(sc.alice, sc.db, 2, {sc.alice.user_id});
  sc.v.delete_secret(sc.alice, gone, 3);
  sc.v.add_secret(sc.alice, kept, 1, {sc.alice.user_id});
  sc.v.add_secret(sc.alice, bare, 1, {sc.alice.user_id});
  const std::vector<VaultRecordV1> records = sc.v.file_order();
  const SecretSelectorV1 absent{{"app", "absent"}, {}};
  const SecretSelectorV1 forged{{"app", "forged"}, {}};
  auto key = [](const SecretSelectorV1& s) { return EntityKey(entity::Secret{*derive_secret_id(s)}); };
  auto entry = [](const SecretSelectorV1& id_of, std::uint64_t counter, const SecretSelectorV1& remembered) {
    return RatchetElement(RatchetRecordV1(SecretRatchetRecordV1{*derive_secret_id(id_of), counter, remembered}));
  };
  const std::vector<RatchetElement> entries = {
      RatchetElement(RatchetRecordV1(TrustedRootRatchetRecordV1{sc.v.root_identity().key_id})),
      entry(sc.db, 2, sc.db),
      entry(gone, 3, gone),
      entry(absent, 1, absent),
      entry(kept, 1, forged),             // the id of a stated secret, another selector
      entry(forged, 1, sc.db),            // a stated selector under another id
      entry(bare, 1, SecretSelectorV1{}), // a counter without a binding
  };
  RatchetStateLoader alone;
  RatchetStateLoader beside(records);
  for (const RatchetElement& e : entries) {
    alone.add(e);
    beside.add(e);
  }
  const auto want = std::move(alone).finish();
  const auto got = std::move(beside).finish();
  ASSERT_TRUE(want && got);
  EXPECT_TRUE(*got == *want);
  EXPECT_EQ(got->to_records(), want->to_records());

  auto stated_at = [&](const SecretSelectorV1& s) -> const SecretSelectorV1* {
    for (const VaultRecordV1& r : records) {
      const RecordBodyV1* body = r.known_body();
      if (body != nullptr && body->secret_selector() != nullptr && *body->secret_selector() == s) {
        return body->secret_selector();
      }
    }
    return nullptr;
  };
  ASSERT_NE(stated_at(sc.db), nullptr);
  ASSERT_NE(stated_at(gone), nullptr);
  EXPECT_EQ(&got->bindings.at(key(sc.db)).selector(), stated_at(sc.db));
  EXPECT_EQ(&got->bindings.at(key(gone)).selector(), stated_at(gone));
  const std::pair<SecretSelectorV1, SecretSelectorV1> own_copies[] = {{absent, absent}, {kept, forged}, {forged, sc.db}};
  for (const auto& [id_of, remembered] : own_copies) {
    const SecretSelectorV1& held = got->bindings.at(key(id_of)).selector();
    EXPECT_EQ(held, remembered);
    EXPECT_NE(&held, stated_at(remembered));
  }
  EXPECT_FALSE(got->bindings.contains(key(bare)));
  EXPECT_EQ(got->counters.at(key(bare)), 1u);
}

TEST(Derive, CleanVault) {
  Scene sc;
  const auto& rec = sc.v.add_secret(sc.alice, sc.db, 2, {sc.alice.user_id, sc.bob.user_id});
  const VaultState s = sc.derive();
  EXPECT_TRUE(s.issues.empty()) << issues_text(s);
  EXPECT_FALSE(s.invalid);
  EXPECT_EQ(s.records.size(), sc.v.records().size());
  EXPECT_EQ(s.users.size(), 3u);
  EXPECT_EQ(s.ratchet.format_version, 1u);
  EXPECT_EQ(s.max_counter, 2u);
  EXPECT_EQ(s.next_counter(), 3u);
  EXPECT_EQ(s.secret_status(sc.db, sc.bob.user_id), SecretStatus::ActiveDecryptable);
  EXPECT_EQ(s.secret_status(sc.db, sc.stranger.user_id), SecretStatus::Unauthorized);
  EXPECT_EQ(s.secret_status(SecretSelectorV1{{"app", "other"}, {}}, sc.bob.user_id), SecretStatus::Missing);
  EXPECT_EQ(s.readers_of(sc.db), (std::vector<UserId>{std::min(sc.root.user_id, std::min(sc.alice.user_id, sc.bob.user_id)),
                                                      std::max(std::min(sc.root.user_id, sc.alice.user_id),
                                                               std::min(std::max(sc.root.user_id, sc.alice.user_id), sc.bob.user_id)),
                                                      std::max(sc.root.user_id, std::max(sc.alice.user_id, sc.bob.user_id))}));
  EXPECT_TRUE(s.is_current_secret_record(record_hash(rec)));
  ASSERT_EQ(s.list_secrets().size(), 1u);
  EXPECT_EQ(s.record_hashes().size(), s.records.size());
  // Advancing a fresh ratchet by the state remembers every counted entity.
  RatchetState r = sc.fresh();
  r.advance(s.ratchet);
  EXPECT_EQ(r.counters.at(EntityKey(entity::Secret{*core::derive_secret_id(sc.db)})), 2u);
  // With the format version already remembered, the view does not repeat it.
  RatchetState v1 = sc.fresh();
  v1.format_version = 1;
  EXPECT_FALSE(sc.derive(v1).ratchet.format_version.has_value());
}

TEST(Derive, RolledBackSecretAgainstTheRememberedRatchet) {
  Scene sc;
  sc.v.add_secret(sc.alice, sc.db, 3, {sc.alice.user_id});
  RatchetState remembered = sc.fresh();
  const EntityKey key = entity::Secret{*core::derive_secret_id(sc.db)};
  remembered.counters[key] = 5;
  const VaultState s = sc.derive(remembered);
  ASSERT_TRUE(s.unresolved.contains(key));
  const UnresolvedEntry& e = s.unresolved.at(key);
  EXPECT_EQ(e.rolled_back_from, 5u);
  EXPECT_EQ(e.counter, 3u);
  ASSERT_EQ(e.candidates.size(), 1u);
  ASSERT_TRUE(e.binding.has_value());
  EXPECT_EQ(e.binding->selector(), sc.db);
  EXPECT_EQ(s.secret_status(sc.db, sc.alice.user_id), SecretStatus::Conflicted);
  EXPECT_EQ(s.next_counter_after_unresolved(), 6u);
  EXPECT_TRUE(s.list_secrets().empty());
  // A remembered entity with nothing left in the vault: rolled back to 0 without candidates.
  RatchetState gone = sc.fresh();
  const EntityKey ghost = entity::Secret{SecretId(HashValue(cord::Bytes(32, 7)))};
  gone.counters[ghost] = 2;
  const VaultState g = sc.derive(gone);
  ASSERT_TRUE(g.unresolved.contains(ghost));
  EXPECT_EQ(g.unresolved.at(ghost).counter, 0u);
  EXPECT_TRUE(g.unresolved.at(ghost).candidates.empty());
}

TEST(Derive, ConflictingAndAgreeingSecretRecords) {
  Scene sc;
  sc.v.add_grant(sc.root, PrincipalRefV1(sc.bob.user_id), testing::write_grant(prefix_keyspace({"app"})), 3, 1);
  sc.v.add_secret(sc.alice, sc.db, 4, {sc.alice.user_id}, 1);
  sc.v.add_secret(sc.bob, sc.db, 4, {sc.bob.user_id}, 2);
  const VaultState s = sc.derive();
  const EntityKey key = entity::Secret{*core::derive_secret_id(sc.db)};
  ASSERT_TRUE(s.unresolved.contains(key));
  EXPECT_FALSE(s.unresolved.at(key).rolled_back_from.has_value());
  EXPECT_EQ(s.unresolved.at(key).counter, 4u);
  EXPECT_EQ(s.unresolved.at(key).candidates.size(), 2u);
  EXPECT_EQ(s.secret_status(sc.db, sc.alice.user_id), SecretStatus::Conflicted);

  // Equal bodies signed by two writers: no conflict; the greater by signer is current.
  Scene same;
  same.v.add_grant(same.root, PrincipalRefV1(same.bob.user_id), testing::write_grant(prefix_keyspace({"app"})), 3, 1);
  const auto& a = same.v.add_secret(same.alice, same.db, 4, {same.alice.user_id}, 1);
  const auto& b_body = *a.known_body();
  same.v.add(same.bob, b_body);
  const VaultState t = same.derive();
  EXPECT_TRUE(t.unresolved.empty());
  EXPECT_EQ(t.secret_status(same.db, same.alice.user_id), SecretStatus::ActiveDecryptable);
  const EffectiveRecord* cur = t.current_secret_record(*core::derive_secret_id(same.db));
  ASSERT_NE(cur, nullptr);
  EXPECT_EQ(cur->signer, std::max(same.alice.user_id, same.bob.user_id));
}

TEST(Derive, ReadersRecordsNeverBecomeCurrent) {
  Scene sc;
  sc.v.add_secret(sc.alice, sc.db, 2, {sc.alice.user_id});
  sc.v.add_secret(sc.bob, sc.db, 5, {sc.bob.user_id});  // bob may only read
  const VaultState s = sc.derive();
  const EffectiveRecord* cur = s.current_secret_record(*core::derive_secret_id(sc.db));
  ASSERT_NE(cur, nullptr);
  EXPECT_EQ(cur->signer, sc.alice.user_id);
  EXPECT_TRUE(s.unresolved.empty());
  EXPECT_EQ(s.max_counter, 2u);  // the reader's record does not count for the view
}

TEST(Derive, UnknownSignerAndVerifiedHashes) {
  Scene sc;
  sc.v.add_secret(sc.stranger, sc.db, 2);
  const VaultRecordV1 good = sc.v.add_secret(sc.alice, SecretSelectorV1{{"app", "x"}, {}}, 3);
  cord::Bytes bad_sig = good.signature().to_vector();
  bad_sig[10] ^= 1;
  sc.v.add_record(VaultRecordV1(good.body(), good.signing_public_key(), bad_sig), sc.alice.user_id);
  const VaultRecordV1 forged(good.body(), good.signing_public_key(), bad_sig);
  const VaultState fresh = sc.derive();
  const std::string stranger_kid = key_id(sc.stranger.signing_public_key)->debug();
  const std::string forged_key = EntityKey(entity::Secret{*core::derive_secret_id(SecretSelectorV1{{"app", "x"}, {}})}).debug();
  // Issues come in file order; check both are present with their exact texts.
  const std::string text = issues_text(fresh);
  EXPECT_NE(text.find("UnknownSignerKey(" + stranger_kid + ")"), std::string::npos) << text;
  EXPECT_NE(text.find("InvalidSignature(" + forged_key + ")"), std::string::npos) << text;
  EXPECT_EQ(fresh.issues.size(), 2u);
  // The same forged record whose hash is already verified is taken as it is.
  const VaultState cached = sc.derive(sc.fresh(), {record_hash(forged)});
  EXPECT_EQ(cached.issues.size(), 1u);
  EXPECT_EQ(cached.records.size(), fresh.records.size() + 1);
}

TEST(Derive, RootsAndFormatVersion) {
  Scene sc;
  // Nothing remembered matches: RootNotTrusted; an empty set likewise.
  const VaultState other = sc.derive(RatchetState::fresh(HashValue(cord::Bytes(32, 1))));
  EXPECT_TRUE(other.invalid);
  EXPECT_EQ(issues_text(other), "[RootNotTrusted]");
  auto empty = derive_state_fresh({}, sc.fresh());
  ASSERT_TRUE(empty);
  EXPECT_EQ(issues_text(*empty), "[RootNotTrusted]");
  // A second self-signed root with another key: the file names two roots, the derivation
  // against the remembered one finds exactly one.
  sc.v.add_record(testing::root_record(sc.stranger), sc.stranger.user_id);
  EXPECT_EQ(trust::select_root(sc.v.file_order()).error().kind(), OpsError::MultipleSelfSignedRoots);
  // The other root's record is judged like any record whose signer the vault does not know.
  EXPECT_EQ(issues_text(sc.derive()), "[UnknownSignerKey(" + key_id(sc.stranger.signing_public_key)->debug() + ")]");
  // The same root signed twice (two valid signatures): ambiguous for the derivation.
  Scene twice;
  const VaultRecordV1& root = twice.v.records().front();
  twice.v.add_record(VaultRecordV1(root.body(), root.signing_public_key(),
                                   testing::randomized_signature(twice.root, kRecordSignaturePurpose, root.signed_message())),
                     twice.root.user_id);
  EXPECT_TRUE(trust::select_root(twice.v.file_order()).has_value());
  EXPECT_EQ(issues_text(twice.derive()), "[AmbiguousRoot]");
  // A remembered format version above ours: nothing is looked at.
  RatchetState newer = sc.fresh();
  newer.format_version = 2;
  const VaultState n = sc.derive(newer);
  EXPECT_TRUE(n.invalid);
  EXPECT_TRUE(n.records.empty());
  EXPECT_EQ(issues_text(n), "[FormatVersionRegression { remembered: 2, current: 1 }]");
}

TEST(Derive, AmbiguousSigningKey) {
  // Alice's key registered by a second user id (same signing key, another HPKE key).
  struct Case {
    const char* name;
    bool alice_entry;
    bool twin_entry;
    bool alice_signs;  // whether records signed with the shared key take effect as alice's
  };
  const Case cases[] = {
      {"only_alice_entered", true, false, true},
      {"neither_entered", false, false, false},
      {"both_entered", true, true, false},
  };
  for (const Case& c : cases) {
    const crypto::Identity root = identity_of(1), alice = identity_of(2);
    VaultBuilder v(root);
    const cord::Bytes spk(alice.signing_public_key.begin(), alice.signing_public_key.end());
    const cord::Bytes twin_hpk(32, 0x42);
    const UserId twin = *core::user_id_from_public_keys(spk, twin_hpk);
    v.add_user(root, alice, 1);
    v.add(root, RecordBodyV1(UserRecordV1{twin, spk, twin_hpk, 1}));
    if (c.alice_entry) v.add_entry_point(alice, 1);
    if (c.twin_entry) v.add(alice, RecordBodyV1(EntryPointRecordV1{root.user_id, twin_hpk, 2}));
    v.add_vault_handle(alice, "shared", 3);
    auto s = derive_state_fresh(v.file_order(), RatchetState::fresh(v.root_identity().key_id));
    ASSERT_TRUE(s) << c.name;
    EXPECT_TRUE(s->issues.empty()) << c.name << ": " << errors::debug_list(s->issues);
    const bool signed_as_alice = std::any_of(s->records.begin(), s->records.end(), [&](const EffectiveRecord& r) {
      return r.body().kind() == RecordBodyV1::VaultHandle && r.signer == alice.user_id;
    });
    EXPECT_EQ(signed_as_alice, c.alice_signs) << c.name;
    const bool any_shared_key = std::any_of(s->records.begin(), s->records.end(), [&](const EffectiveRecord& r) {
      return r.record.signing_public_key() == spk;
    });
    EXPECT_EQ(any_shared_key, c.alice_signs) << c.name;
  }
}

TEST(Derive, DeletedSecret) {
  Scene sc;
  sc.v.add_secret(sc.alice, sc.db, 2, {sc.alice.user_id});
  const auto& del = sc.v.delete_secret(sc.alice, sc.db, 3);
  const VaultState s = sc.derive();
  EXPECT_EQ(s.secret_status(sc.db, sc.alice.user_id), SecretStatus::Missing);
  EXPECT_TRUE(s.list_secrets().empty());
  EXPECT_FALSE(s.secret_record(sc.db)->has_value());
  EXPECT_TRUE(s.is_current_secret_record(record_hash(del)));
}

TEST(Derive, UnknownKindsAndStructureIssues) {
  Scene sc;
  // A later version's record: neither effective nor an issue.
  cord::Buffer raw_record;
  ASSERT_TRUE(cord::write_byte_string(raw_record, cord::Bytes{0, 0, 0, 20}));
  sc.v.add_record(testing::signed_record(sc.alice, EvolvingBody::raw(cord::Bytes{0, 0, 0, 20})), sc.alice.user_id);
  // A handle record with an invalid handle.
  sc.v.add(sc.root, RecordBodyV1(UserHandleRecordV1{*core::derive_user_handle_id("alice"), "Alice", sc.alice.user_id, 1}));
  const VaultState s = sc.derive();
  EXPECT_EQ(issues_text(s), "[InvalidStructure(\"invalid user handle\")]");
  EXPECT_EQ(s.records.size(), sc.v.records().size() - 2);
}

TEST(Derive, ListingSelectors) {
  struct Case {
    SecretSelectorV1 listed;
    bool want;
  };
  const SecretSelectorV1 query{{"a"}, {{"env", "prod"}}};
  const Case cases[] = {
      {{{"a", "b"}, {{"env", "prod"}, {"region", "eu"}}}, true},
      {{{"a"}, {{"env", "dev"}}}, false},
      {{{"b"}, {{"env", "prod"}}}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(listing_matches(c.listed, query), c.want);
  EXPECT_TRUE(listing_matches(SecretSelectorV1{{"x"}, {{"k", "v"}}}, SecretSelectorV1{}));
}

}  // namespace
}  // namespace ostrel::validate

namespace ostrel::validate {
namespace {

TEST(Derive, SignerChainFollowsKeysWhateverTheOrder) {
  using namespace core;
  const crypto::Identity root = identity_of(1), alice = identity_of(2), bob = identity_of(3), carol = identity_of(4),
                         outsider = identity_of(5);
  VaultBuilder v(root);
  // bob's user record is signed by alice, carol's by bob: a chain of keys. Whatever order the
  // file holds them in, each signer's key is known by the time its records are judged.
  v.add_user(bob, carol, 1);
  v.add_user(alice, bob, 1);
  v.add_user(root, alice, 1);
  // A user record signed by a key nobody accepted vouches for no one.
  const crypto::Identity dave = identity_of(6);
  v.add_user(outsider, dave, 1);
  v.add_vault_handle(dave, "daves", 1);
  auto s = derive_state_fresh(v.file_order(), RatchetState::fresh(v.root_identity().key_id));
  ASSERT_TRUE(s);
  const std::string text = errors::debug_list(s->issues);
  EXPECT_EQ(s->issues.size(), 2u) << text;  // the outsider's record and dave's record
  EXPECT_NE(text.find(key_id(outsider.signing_public_key)->debug()), std::string::npos) << text;
  EXPECT_NE(text.find(key_id(dave.signing_public_key)->debug()), std::string::npos) << text;
  for (const auto* who : {&alice, &bob}) {
    const bool signs = std::any_of(s->records.begin(), s->records.end(),
                                   [&](const EffectiveRecord& r) { return r.signer == who->user_id; });
    EXPECT_TRUE(signs);
  }
}

}  // namespace
}  // namespace ostrel::validate
