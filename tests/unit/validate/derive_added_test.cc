// A write's state built from the state before it (derive_with_added_record) against the whole
// derivation of the candidate set it stands in for: equal in every field, on a table of named
// cases that also say whether the shortcut may serve them, and on random vaults, ratchets and
// added records.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "core/ids.h"
#include "core/validate/derive.h"
#include "core/validate/derive_added.h"
#include "support/generate.h"
#include "support/state_diff.h"
#include "support/vault_builder.h"

namespace ostrel::validate {
namespace {

using namespace core;
using testing::identity_of;
using testing::prefix_keyspace;
using testing::VaultBuilder;

VaultRecordV1 value_record(const crypto::Identity& author, const SecretSelectorV1& selector, std::uint64_t counter,
                           std::uint8_t nonce = 0) {
  auto r = SecretRecordV1::create_signed(author, selector, SealedPayloadV1{cord::Bytes(12, nonce), cord::Bytes(32, 0xcc), {}},
                                         counter);
  EXPECT_TRUE(r);
  return std::move(*r);
}

VaultRecordV1 deletion_record(const crypto::Identity& author, const SecretSelectorV1& selector, std::uint64_t counter) {
  auto r = SecretDeletedRecordV1::create_signed(author, selector, counter);
  EXPECT_TRUE(r);
  return std::move(*r);
}

VaultRecordV1 with_bad_signature(const VaultRecordV1& r) {
  cord::Bytes sig = r.signature().to_vector();
  sig[7] ^= 0x20;
  return VaultRecordV1(r.body(), r.signing_public_key(), sig);
}

EntityKey secret_key(const SecretSelectorV1& s) { return entity::Secret{*core::derive_secret_id(s)}; }

bool encoding_less(const VaultRecordV1& a, const VaultRecordV1& b) { return cord::bytes_less(a.encoding(), b.encoding()); }

// A record list as a vault file holds it: ascending encoding, each record once.
std::vector<VaultRecordV1> file_order(std::vector<VaultRecordV1> records) {
  std::sort(records.begin(), records.end(), encoding_less);
  records.erase(std::unique(records.begin(), records.end(),
                            [](const VaultRecordV1& a, const VaultRecordV1& b) { return !encoding_less(a, b); }),
                records.end());
  return records;
}

// One addition: the base's records, the candidate with the new record at `at`, the ratchets.
struct Addition {
  std::vector<VaultRecordV1> before;
  VaultRecordV1 record;
  std::size_t at = 0;
  RatchetState remembered;
  RatchetState next;  // filled from the base unless a case sets it
  bool next_given = false;
  std::optional<std::vector<VaultRecordV1>> others;  // the candidate's other records, when not `before`
};

struct Outcome {
  bool shortcut = false;  // whether derive_by_addition served it
  VaultState state;       // what derive_with_added_record gave
};

// Derives the base, then the candidate both ways; fails the test unless they agree in every field.
std::optional<Outcome> run(Addition a, const std::string& name, const VerifiedHashes& verified = {}) {
  auto base = derive_state(a.before, a.remembered, verified);
  EXPECT_TRUE(base) << name;
  if (!base) return std::nullopt;
  if (!a.next_given) {
    a.next = a.remembered;
    a.next.advance(base->ratchet);
  }
  std::vector<VaultRecordV1> candidate = a.others ? *a.others : a.before;
  a.at = std::min(a.at, candidate.size());
  candidate.insert(candidate.begin() + static_cast<std::ptrdiff_t>(a.at), a.record);
  auto full = derive_state(candidate, a.next, base->record_hashes());
  auto quick = derive_with_added_record(*base, a.remembered, candidate, a.at, a.next);
  EXPECT_EQ(full.has_value(), quick.has_value()) << name;
  if (!full || !quick) return std::nullopt;
  EXPECT_EQ(testing::first_difference(*quick, *full), "") << name;
  const std::optional<VaultState> shortcut = derive_by_addition(*base, a.remembered, candidate, a.at, a.next);
  if (shortcut) {
    EXPECT_EQ(testing::first_difference(*shortcut, *full), "") << name << " (shortcut alone)";
  }
  return Outcome{shortcut.has_value(), std::move(*quick)};
}

// alice and carol write under app/, bob reads it; dave is a user without an entry point who has
// signed nothing; the stranger is no user. db and api hold a value each, gone a deletion, and conf
// two different values at one counter.
struct Scene {
  crypto::Identity root = identity_of(1), alice = identity_of(2), bob = identity_of(3), carol = identity_of(4),
                   dave = identity_of(5), stranger = identity_of(9);
  VaultBuilder v{root};
  SecretSelectorV1 db{{"app", "db"}, {}}, api{{"app", "api"}, {{"env", "prod"}}}, gone{{"app", "gone"}, {}},
      conf{{"app", "conf"}, {}}, fresh_one{{"app", "new"}, {}};

  Scene() {
    v.add_member(root, alice);
    v.add_member(root, bob);
    v.add_member(root, carol);
    v.add_user(root, dave, 1);
    v.add_grant(root, PrincipalRefV1(alice.user_id), testing::write_grant(prefix_keyspace({"app"})), 1, 1);
    v.add_grant(root, PrincipalRefV1(bob.user_id), testing::read_grant(prefix_keyspace({"app"})), 2, 1);
    v.add_grant(root, PrincipalRefV1(carol.user_id), testing::write_grant(prefix_keyspace({"app"})), 3, 1);
    v.add_secret(alice, db, 2, {alice.user_id}, 1);
    v.add_secret(alice, api, 3, {alice.user_id}, 2);
    v.delete_secret(alice, gone, 5);
    v.add_secret(alice, conf, 4, {alice.user_id}, 3);
    v.add_secret(carol, conf, 4, {carol.user_id}, 4);
  }
  RatchetState fresh() const { return RatchetState::fresh(v.root_identity().key_id); }
  // What a session remembers after opening the vault once.
  RatchetState derived() const {
    RatchetState r = fresh();
    auto s = derive_state_fresh(v.file_order(), r);
    EXPECT_TRUE(s && s->issues.empty());
    r.advance(s->ratchet);
    return r;
  }
  Addition add(VaultRecordV1 record) const {
    Addition a{v.file_order(), std::move(record), std::numeric_limits<std::size_t>::max(), fresh(), {}, false, std::nullopt};
    return a;
  }
};

TEST(DeriveAdded, NamedCasesEqualTheWholeDerivation) {
  struct Case {
    const char* name;
    std::function<Addition(Scene&)> make;
    bool shortcut;  // the common cases must not fall back; the others must
  };
  const std::uint64_t ceiling = std::uint64_t{1} << 62;
  const Case cases[] = {
      {"writer_sets_a_new_secret", [](Scene& s) { return s.add(value_record(s.alice, s.fresh_one, 6)); }, true},
      {"writer_deletes_a_secret", [](Scene& s) { return s.add(deletion_record(s.alice, s.db, 6)); }, true},
      {"writer_overwrites_at_the_next_counter", [](Scene& s) { return s.add(value_record(s.carol, s.db, 6, 9)); }, true},
      {"writer_below_the_top_counter", [](Scene& s) { return s.add(value_record(s.carol, s.db, 1, 9)); }, true},
      {"equal_deletion_at_the_top_by_another_writer", [](Scene& s) { return s.add(deletion_record(s.carol, s.gone, 5)); },
       true},
      {"different_value_at_the_top_makes_a_conflict", [](Scene& s) { return s.add(value_record(s.carol, s.db, 2, 9)); },
       false},
      {"higher_counter_resolves_a_conflict", [](Scene& s) { return s.add(value_record(s.alice, s.conf, 9, 9)); }, true},
      {"top_counter_of_a_conflict", [](Scene& s) { return s.add(value_record(s.alice, s.conf, 4, 9)); }, false},
      {"below_a_conflict", [](Scene& s) { return s.add(value_record(s.alice, s.conf, 3, 9)); }, true},
      {"reader_without_write_right", [](Scene& s) { return s.add(value_record(s.bob, s.db, 6)); }, true},
      {"root_writes_anywhere", [](Scene& s) { return s.add(value_record(s.root, SecretSelectorV1{{"ops"}, {}}, 6)); }, true},
      {"counter_zero_on_an_empty_path", [](Scene& s) { return s.add(deletion_record(s.root, SecretSelectorV1{}, 0)); }, true},
      {"first_position", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.fresh_one, 6));
         a.at = 0;
         return a;
       }, true},
      {"middle_position", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.at = a.before.size() / 2;
         return a;
       }, true},
      {"unknown_signer", [](Scene& s) { return s.add(value_record(s.stranger, s.db, 6)); }, false},
      {"user_who_signed_nothing", [](Scene& s) { return s.add(value_record(s.dave, s.db, 6)); }, false},
      {"bad_signature", [](Scene& s) { return s.add(with_bad_signature(value_record(s.alice, s.db, 6))); }, false},
      {"duplicate_of_a_record", [](Scene& s) { return s.add(s.v.records()[12]); }, false},
      {"not_a_secret", [](Scene& s) {
         return s.add(testing::signed_record(
             s.root, RecordBodyV1(VaultHandleRecordV1{*core::derive_vault_handle_id("team"), "team", 6})));
       }, false},
      {"later_version_kind", [](Scene& s) {
         return s.add(testing::signed_record(s.alice, EvolvingBody::raw(cord::Bytes{0, 0, 0, 99})));
       }, false},
      {"secret_id_not_of_its_selector", [](Scene& s) {
         return s.add(testing::signed_record(
             s.alice, RecordBodyV1(SecretDeletedRecordV1{*core::derive_secret_id(s.api), s.db, 6})));
       }, false},
      {"counter_above_the_ceiling", [=](Scene& s) { return s.add(deletion_record(s.alice, s.db, ceiling + 1)); }, false},
      {"remembered_format_version_1", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.remembered.format_version = 1;
         return a;
       }, true},
      {"remembered_format_version_2", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.remembered.format_version = 2;
         return a;
       }, false},
      {"remembered_view_and_bindings", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.remembered = s.derived();
         return a;
       }, true},
      {"base_rolled_back", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.remembered.counters[secret_key(s.api)] = 7;
         return a;
       }, false},
      {"base_rolled_back_the_written_secret", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 8));
         a.remembered.counters[secret_key(s.db)] = 7;
         return a;
       }, false},
      // Another process remembered more since: the candidate rolls that entity back.
      {"next_ratchet_raised_elsewhere", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         auto base = derive_state(a.before, a.remembered, {});
         a.next = a.remembered;
         a.next.advance(base->ratchet);
         a.next.counters[secret_key(s.api)] = 9;
         a.next_given = true;
         return a;
       }, false},
      {"next_ratchet_raised_here_below_the_new_counter", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.next = s.derived();
         a.next.counters[secret_key(s.db)] = 5;
         a.next_given = true;
         return a;
       }, true},
      {"next_ratchet_raised_here_above_the_new_counter", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.next = s.derived();
         a.next.counters[secret_key(s.db)] = 7;
         a.next_given = true;
         return a;
       }, false},
      {"next_ratchet_raised_for_a_readers_record", [](Scene& s) {
         Addition a = s.add(value_record(s.bob, s.db, 6));
         a.next = s.derived();
         a.next.counters[secret_key(s.db)] = 5;
         a.next_given = true;
         return a;
       }, false},
      {"next_ratchet_without_format_version", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.remembered = s.derived();
         a.next = a.remembered;
         a.next.format_version = 0;
         a.next_given = true;
         return a;
       }, true},
      {"next_ratchet_of_another_root", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.remembered = s.derived();
         a.next = a.remembered;
         a.next.trusted_root = *core::key_id(s.alice.signing_public_key);
         a.next_given = true;
         return a;
       }, false},
      {"next_ratchet_behind_the_view", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.next = s.fresh();
         a.next_given = true;
         return a;
       }, false},
      {"next_ratchet_without_a_binding", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.next = s.derived();
         a.next.bindings.erase(secret_key(s.api));
         a.next_given = true;
         return a;
       }, false},
      {"next_ratchet_without_the_written_binding", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.next = s.derived();
         a.next.bindings.erase(secret_key(s.db));
         a.next_given = true;
         return a;
       }, true},
      {"base_with_an_issue", [](Scene& s) {
         s.v.add_vault_handle(s.stranger, "odd", 1);
         return s.add(value_record(s.alice, s.db, 6));
       }, false},
      {"later_version_record_in_the_base", [](Scene& s) {
         s.v.add(s.alice, EvolvingBody::raw(cord::Bytes{0, 0, 0, 99}));
         return s.add(value_record(s.alice, s.db, 6));
       }, true},
      // Records signed with a key two users registered (neither entered) are left out silently.
      {"ambiguous_key_in_the_base", [](Scene& s) {
         const cord::Bytes spk(s.carol.signing_public_key.begin(), s.carol.signing_public_key.end());
         const cord::Bytes twin_hpk(32, 0x42);
         s.v.add(s.root, RecordBodyV1(UserRecordV1{*core::user_id_from_public_keys(spk, twin_hpk), spk, twin_hpk, 1}));
         s.v.add(s.carol, RecordBodyV1(EntryPointRecordV1{s.root.user_id, twin_hpk, 2}));
         return s.add(value_record(s.alice, s.db, 6));
       }, false},
      // A caller's mistake: the base is not the state of the candidate's other records.
      {"base_of_other_records", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.others = a.before;
         s.v.add_secret(s.alice, s.api, 4, {s.alice.user_id}, 7);
         a.before = file_order(s.v.records());
         a.before.erase(std::find(a.before.begin(), a.before.end(), s.v.records()[12]));
         return a;
       }, false},
      {"base_records_in_another_order", [](Scene& s) {
         Addition a = s.add(value_record(s.alice, s.db, 6));
         a.before = s.v.records();
         return a;
       }, true},
  };
  for (const Case& c : cases) {
    Scene scene;
    Addition a = c.make(scene);
    std::optional<Outcome> out = run(std::move(a), c.name);
    ASSERT_TRUE(out) << c.name;
    EXPECT_EQ(out->shortcut, c.shortcut) << c.name;
  }
}

TEST(DeriveAdded, ShortcutResultsMeanWhatTheWriteChecks) {
  // Not restating the fields: the questions a write asks of the new state.
  Scene s;
  const VaultRecordV1 written = value_record(s.alice, s.conf, 9, 9);
  auto out = run(s.add(written), "resolve");
  ASSERT_TRUE(out && out->shortcut);
  EXPECT_TRUE(out->state.is_current_secret_record(record_hash(written)));
  EXPECT_EQ(out->state.next_counter(), 10u);
  EXPECT_FALSE(out->state.unresolved.contains(secret_key(s.conf)));
  const VaultRecordV1 by_reader = value_record(s.bob, s.db, 9);
  out = run(s.add(by_reader), "reader");
  ASSERT_TRUE(out && out->shortcut);
  EXPECT_FALSE(out->state.is_current_secret_record(record_hash(by_reader)));
  EXPECT_TRUE(out->state.ratchet.counters.empty());
}

// ---- random vaults ----

struct Cast {
  crypto::Identity root = identity_of(1);
  std::vector<crypto::Identity> people;  // may become users, members, writers, readers, admins
  crypto::Identity stranger = identity_of(0x77);
  std::vector<SecretSelectorV1> selectors = {
      {{"app", "db"}, {}},          {{"app", "db"}, {{"env", "prod"}}}, {{"app", "api"}, {}},
      {{"ops", "pager"}, {}},       {{"team", "t1"}, {}},               {{"team", "t2"}, {{"env", "dev"}}},
      {{"misc"}, {}},
  };
  Cast() {
    for (std::uint8_t i = 2; i <= 8; ++i) people.push_back(identity_of(i));
  }
};

const Cast& cast() {
  static const Cast* c = new Cast();
  return *c;
}

struct Rng {
  std::mt19937_64 g;
  explicit Rng(std::uint64_t seed) : g(seed) {}
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(g() % n); }
  bool one_in(std::size_t n) { return below(n) == 0; }
  template <class T>
  const T& pick(const std::vector<T>& v) {
    return v[below(v.size())];
  }
};

struct World {
  VaultBuilder v{cast().root};
  std::vector<const crypto::Identity*> users;  // the root and everyone with a user record
  const crypto::Identity& someone(Rng& rng) const {
    return rng.one_in(10) ? rng.pick(cast().people) : *users[rng.below(users.size())];
  }
};

// A vault with members, users without entry points, grants of each kind (to users and a group),
// deleted users and grants, secrets by writers, readers and the root, with conflicts; and now and
// then a stranger's record, a bad signature, a later version's record or an ambiguous key.
World random_vault(Rng& rng) {
  const Cast& c = cast();
  World w;
  VaultBuilder& v = w.v;
  w.users.push_back(&c.root);
  std::vector<const crypto::Identity*> admins = {&c.root};
  const std::vector<KeyspaceSelectorV1> spaces = {prefix_keyspace({"app"}), prefix_keyspace({"ops"}),
                                                  prefix_keyspace({"team"}), prefix_keyspace({"app", "db"}),
                                                  testing::any_keyspace()};
  std::uint8_t seed = 1;
  for (const crypto::Identity& p : c.people) {
    const std::size_t kind = rng.below(10);
    if (kind >= 8) continue;  // never a user
    w.users.push_back(&p);
    const crypto::Identity& admin = *admins[rng.below(admins.size())];
    if (kind == 7) {
      v.add_user(admin, p, 1);  // no entry point
    } else {
      v.add_member(admin, p, 1 + rng.below(2));
    }
    switch (rng.below(6)) {
      case 0: break;
      case 1: v.add_grant(admin, PrincipalRefV1(p.user_id), testing::read_grant(rng.pick(spaces)), seed++, 1); break;
      case 2:
        v.add_grant(admin, PrincipalRefV1(p.user_id),
                    testing::manage_grant(rng.pick(spaces), {KeyspaceGrantClassV1::Write}), seed++, 1);
        break;
      case 3:
        v.add_grant(admin, PrincipalRefV1(p.user_id), testing::admin_grant(), seed++, 1);
        admins.push_back(&p);
        break;
      default: v.add_grant(admin, PrincipalRefV1(p.user_id), testing::write_grant(rng.pick(spaces)), seed++, 1); break;
    }
    if (rng.one_in(7)) v.delete_user(c.root, p.user_id, 3);
  }
  if (rng.one_in(2)) {
    const GroupId team = v.add_group(c.root, "team", 40, 1);
    const GrantId g = v.add_grant(c.root, PrincipalRefV1(team), testing::write_grant(prefix_keyspace({"team"})), 41, 1);
    for (const crypto::Identity& p : c.people) {
      if (rng.one_in(3)) v.add_membership(c.root, team, PrincipalRefV1(p.user_id), 1);
    }
    if (rng.one_in(5)) v.delete_grant(c.root, g, testing::write_grant(prefix_keyspace({"team"})), 2);
  }
  const std::size_t secrets = 4 + rng.below(20);
  for (std::size_t i = 0; i < secrets; ++i) {
    const crypto::Identity& author = w.someone(rng);
    const SecretSelectorV1& sel = rng.pick(c.selectors);
    const std::uint64_t counter = 1 + rng.below(6);
    if (rng.one_in(4)) {
      v.delete_secret(author, sel, counter);
    } else {
      v.add_secret(author, sel, counter, {author.user_id}, static_cast<std::uint8_t>(rng.below(4)));
    }
  }
  if (rng.one_in(12)) v.add_secret(c.stranger, rng.pick(c.selectors), 2);
  if (rng.one_in(12)) v.add_record(with_bad_signature(v.records().back()), c.root.user_id);
  if (rng.one_in(8)) v.add(rng.pick(c.people), EvolvingBody::raw(cord::Bytes{0, 0, 0, 50, 1}));
  if (rng.one_in(12)) {
    const crypto::Identity& p = rng.pick(c.people);
    const cord::Bytes spk(p.signing_public_key.begin(), p.signing_public_key.end());
    const cord::Bytes twin_hpk(32, 0x42);
    v.add(c.root, RecordBodyV1(UserRecordV1{*core::user_id_from_public_keys(spk, twin_hpk), spk, twin_hpk, 1}));
    if (rng.one_in(2)) v.add(p, RecordBodyV1(EntryPointRecordV1{c.root.user_id, twin_hpk, 1}));
  }
  return w;
}

// A record a write (or a stranger, or a damaged file) might add.
VaultRecordV1 random_addition(Rng& rng, const World& w, const VaultState& base) {
  const Cast& c = cast();
  const VaultBuilder& v = w.v;
  switch (rng.below(16)) {
    case 0: return v.records()[rng.below(v.records().size())];  // already there
    case 1: return value_record(c.stranger, rng.pick(c.selectors), base.next_counter());
    case 2: return with_bad_signature(value_record(rng.pick(c.people), rng.pick(c.selectors), base.next_counter()));
    case 3:
      return testing::signed_record(c.root, RecordBodyV1(VaultHandleRecordV1{*core::derive_vault_handle_id("vh"), "vh", 9}));
    default: break;
  }
  // A secret of the pool, a new one, or one in conflict.
  SecretSelectorV1 sel = rng.one_in(5) ? SecretSelectorV1{{"app", "n" + std::to_string(rng.below(3))}, {}} : rng.pick(c.selectors);
  std::vector<const UnresolvedEntry*> conflicts;
  for (const auto& [key, entry] : base.unresolved) {
    if (std::holds_alternative<entity::Secret>(key) && !entry.candidates.empty()) conflicts.push_back(&entry);
  }
  if (!conflicts.empty() && rng.one_in(3)) {
    sel = *conflicts[rng.below(conflicts.size())]->candidates.front().known_body()->secret_selector();
  }
  // Mostly someone who may write it.
  std::vector<const crypto::Identity*> writers;
  for (const crypto::Identity* u : w.users) {
    if (base.permissions_of(u->user_id).can_write(sel)) writers.push_back(u);
  }
  const crypto::Identity& author = !writers.empty() && !rng.one_in(3) ? *writers[rng.below(writers.size())] : w.someone(rng);
  std::uint64_t counter = 0;
  const EffectiveRecord* current = base.current_secret_record(*core::derive_secret_id(sel));
  switch (rng.below(5)) {
    case 0: counter = std::max(base.next_counter(), base.next_counter_after_unresolved()); break;
    case 1: counter = current ? current->body().counter() : 3; break;  // the top counter
    case 2: counter = current && current->body().counter() > 0 ? current->body().counter() - 1 : 0; break;
    default: counter = rng.below(9); break;
  }
  // Now and then the current body again under another signer: an agreeing record.
  if (current != nullptr && current->body().counter() == counter && rng.one_in(2)) {
    return testing::signed_record(author, current->record.body());
  }
  if (rng.one_in(3)) return deletion_record(author, sel, counter);
  return value_record(author, sel, counter, static_cast<std::uint8_t>(rng.below(4)));
}

TEST(DeriveAdded, RandomVaultsEqualTheWholeDerivation) {
  // Fixed seeds that once mattered stay in the table; the loop adds a spread of others.
  std::vector<std::uint64_t> seeds = {1, 2, 3, 0xdeadbeef, 20250101};
  for (std::uint64_t s = 100; s < 160; ++s) seeds.push_back(s);
  std::size_t cases = 0;
  std::size_t shortcuts = 0;
  for (std::uint64_t seed : seeds) {
    Rng rng(seed);
    const World w = random_vault(rng);
    const std::vector<VaultRecordV1> file = file_order(w.v.records());
    const RatchetState fresh = RatchetState::fresh(w.v.root_identity().key_id);
    auto first = derive_state_fresh(file, fresh);
    ASSERT_TRUE(first);
    for (int variant = 0; variant < 4; ++variant) {
      // What is remembered: nothing, the format version, the vault's own view, or more than it
      // holds for some entity (a rollback).
      RatchetState remembered = fresh;
      if (variant == 1) remembered.format_version = 1;
      if (variant >= 2) remembered.advance(first->ratchet);
      if (variant == 3 && !first->ratchet.counters.empty()) {
        const auto& [key, counter] = *(first->ratchet.counters.begin() +
                                       static_cast<std::ptrdiff_t>(rng.below(first->ratchet.counters.size())));
        remembered.counters[key] = counter + 1 + rng.below(3);
      }
      const VerifiedHashes verified = variant % 2 == 0 ? VerifiedHashes{} : first->record_hashes();
      auto base = derive_state(file, remembered, verified);
      ASSERT_TRUE(base);
      for (int n = 0; n < 6; ++n) {
        const std::string name = "seed " + std::to_string(seed) + " variant " + std::to_string(variant) + " addition " +
                                 std::to_string(n);
        Addition a{file, random_addition(rng, w, *base), file.size(), remembered, {}, false, std::nullopt};
        switch (rng.below(4)) {
          case 0: a.at = rng.below(file.size() + 1); break;
          case 1: {  // where a vault file would hold it
            a.at = static_cast<std::size_t>(std::lower_bound(file.begin(), file.end(), a.record, encoding_less) - file.begin());
            break;
          }
          default: break;  // appended, as a write's candidate set holds it
        }
        // The next ratchet: as a write makes it, or with another process's counter on top.
        if (rng.one_in(5)) {
          a.next = remembered;
          a.next.advance(base->ratchet);
          const SecretSelectorV1& sel = rng.pick(cast().selectors);
          a.next.counters[secret_key(sel)] = std::max(a.next.counters[secret_key(sel)], std::uint64_t{1 + rng.below(8)});
          if (rng.one_in(2)) a.next.bindings.try_emplace(secret_key(sel), EntityBinding(sel));
          a.next_given = true;
        }
        std::optional<Outcome> out = run(std::move(a), name, verified);
        ASSERT_TRUE(out) << name;
        ++cases;
        shortcuts += out->shortcut;
      }
    }
  }
  // Both roads are taken often enough for the comparison to mean something.
  EXPECT_GT(shortcuts, cases / 5) << shortcuts << " of " << cases;
  EXPECT_GT(cases - shortcuts, cases / 5) << shortcuts << " of " << cases;
}

TEST(DeriveAdded, GeneratedVaultWrites) {
  // A generated vault (hundreds of users, groups, grants, secrets written by members): a member's
  // overwrite, a new secret, and a write by a member outside the writer's team.
  const testing::GeneratedVault g = testing::generate_vault(3000);
  const std::vector<VaultRecordV1> records = file_order(g.records);
  RatchetState remembered = RatchetState::fresh(g.root_key_id);
  auto opened = derive_state_fresh(records, remembered);
  ASSERT_TRUE(opened && opened->issues.empty());
  remembered.advance(opened->ratchet);
  auto base = derive_state(records, remembered, opened->record_hashes());
  ASSERT_TRUE(base);
  // The generator's first member writes under team-0; the second member sits in team-1.
  std::array<std::uint8_t, 32> seed{};
  seed[0] = 0x5a;
  const crypto::Identity first = testing::identity_from_seed(seed);
  seed[2] = 1;
  const crypto::Identity second = testing::identity_from_seed(seed);
  const std::vector<SecretSelectorV1> selectors = {
      SecretSelectorV1{{"team-0", "service-0", "key-0"}, {{"env", "dev"}}},
      SecretSelectorV1{{"team-0", "brand", "new"}, {}},
  };
  for (const crypto::Identity* author : {&first, &second}) {
    for (const SecretSelectorV1& sel : selectors) {
      Addition a{records, value_record(*author, sel, base->next_counter()), records.size(), remembered, {}, false, std::nullopt};
      std::optional<Outcome> out = run(std::move(a), "generated", opened->record_hashes());
      ASSERT_TRUE(out);
      EXPECT_TRUE(out->shortcut);
    }
  }
}

}  // namespace
}  // namespace ostrel::validate
