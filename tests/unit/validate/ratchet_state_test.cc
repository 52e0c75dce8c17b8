// The remembered ratchet state: conversions between ratchet records and (entity, counter,
// binding), applying, advancing and merging, the records a state is written as, the state a
// ratchet file's entries give (raw entries byte for byte, one trusted root only), and the
// rollback test.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>

#include "core/validate/ratchet_state_internal.h"
#include "support/hex.h"

namespace ostrel::validate {
namespace {

using core::RatchetElement;
using core::RatchetRecordV1;
using testing::from_hex;
using testing::to_hex;

HashValue h(std::uint8_t fill) { return HashValue(cord::Bytes(32, fill)); }

const core::SecretSelectorV1 kPath{{"app", "db"}, {}};
const core::GroupMemberIdInputV1 kInput{GroupId(h(3)), core::PrincipalRefV1(UserId(h(4)))};

RatchetRecordV1 user(std::uint8_t id, std::uint64_t counter) {
  return core::UserRatchetRecordV1{UserId(h(id)), counter};
}
RatchetRecordV1 user_handle(std::uint8_t id, std::uint64_t counter, std::string handle) {
  return core::UserHandleRatchetRecordV1{UserHandleId(h(id)), counter, std::move(handle)};
}
RatchetRecordV1 secret(std::uint8_t id, std::uint64_t counter, core::SecretSelectorV1 selector) {
  return core::SecretRatchetRecordV1{SecretId(h(id)), counter, std::move(selector)};
}
RatchetRecordV1 trusted_root(const HashValue& root) { return core::TrustedRootRatchetRecordV1{root}; }

EntityKey user_key(std::uint8_t id) { return core::entity::User{UserId(h(id))}; }
EntityKey user_handle_key(std::uint8_t id) { return core::entity::UserHandle{UserHandleId(h(id))}; }
EntityKey secret_key(std::uint8_t id) { return core::entity::Secret{SecretId(h(id))}; }

// The file bytes of a ratchet store holding `elements`.
std::string store_hex(const std::vector<RatchetElement>& elements) {
  auto bytes = cord::to_vec_versioned(cord::Set<RatchetElement>(elements));
  EXPECT_TRUE(bytes) << bytes.error().message();
  return bytes ? to_hex(*bytes) : std::string();
}

cord::Result<RatchetState> state_of_store(const std::string& hex) {
  auto store = cord::from_slice<core::RatchetStore>(from_hex(hex));
  if (!store) return std::unexpected(store.error());
  return RatchetState::from_store(std::get<0>(*store).items());
}

TEST(RatchetRecordConversion, KeysAndBindingsOfEveryVariant) {
  struct Case {
    const char* name;
    RatchetRecordV1 record;
    std::optional<EntityKey> key;
    std::optional<EntityBinding> binding;
  };
  const Case cases[] = {
      {"user", user(1, 5), user_key(1), std::nullopt},
      {"user_handle", user_handle(1, 2, "alice"), user_handle_key(1), binding::UserHandle{"alice"}},
      {"user_handle_empty_text_is_no_binding", user_handle(1, 2, ""), user_handle_key(1), std::nullopt},
      {"vault_handle", core::VaultHandleRatchetRecordV1{VaultHandleId(h(1)), 3, "ops"},
       core::entity::VaultHandle{VaultHandleId(h(1))}, binding::VaultHandle{"ops"}},
      {"vault_handle_empty_text_is_no_binding", core::VaultHandleRatchetRecordV1{VaultHandleId(h(1)), 3, ""},
       core::entity::VaultHandle{VaultHandleId(h(1))}, std::nullopt},
      {"group", core::GroupRatchetRecordV1{GroupId(h(1)), 4}, core::entity::Group{GroupId(h(1))}, std::nullopt},
      {"group_member", core::GroupMemberRatchetRecordV1{GroupMemberId(h(1)), 5, kInput},
       core::entity::GroupMember{GroupMemberId(h(1))}, EntityBinding(kInput)},
      {"group_member_without_input", core::GroupMemberRatchetRecordV1{GroupMemberId(h(1)), 5, std::nullopt},
       core::entity::GroupMember{GroupMemberId(h(1))}, std::nullopt},
      {"grant", core::GrantRatchetRecordV1{GrantId(h(1)), 6}, core::entity::Grant{GrantId(h(1))}, std::nullopt},
      {"secret", secret(1, 7, kPath), secret_key(1), EntityBinding(kPath)},
      {"secret_labels_without_path_is_no_binding", secret(1, 7, core::SecretSelectorV1{{}, {{"env", "prod"}}}),
       secret_key(1), std::nullopt},
      {"entry_point", core::EntryPointRatchetRecordV1{UserId(h(1)), 8}, core::entity::EntryPoint{UserId(h(1))},
       std::nullopt},
      {"format_version", RatchetRecordV1::format_version(1), std::nullopt, std::nullopt},
      {"trusted_root", trusted_root(h(9)), std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ratchet_record_key(c.record), c.key) << c.name;
    EXPECT_EQ(ratchet_record_binding(c.record), c.binding) << c.name;
  }
}

TEST(RatchetRecordConversion, FromCounterWritesAMissingOrForeignBindingAsEmptyFields) {
  const EntityBinding handle = binding::UserHandle{"alice"};
  struct Case {
    const char* name;
    EntityKey key;
    const EntityBinding* binding;
    std::optional<RatchetRecordV1> want;
  };
  const Case cases[] = {
      {"vault_root_is_never_counted", core::entity::VaultRoot{}, nullptr, std::nullopt},
      {"user", user_key(1), nullptr, user(1, 3)},
      {"entry_point", core::entity::EntryPoint{UserId(h(1))}, nullptr,
       RatchetRecordV1(core::EntryPointRatchetRecordV1{UserId(h(1)), 3})},
      {"user_handle_bound", user_handle_key(1), &handle, user_handle(1, 3, "alice")},
      {"user_handle_unbound", user_handle_key(1), nullptr, user_handle(1, 3, "")},
      {"vault_handle_with_a_user_handle_binding", core::entity::VaultHandle{VaultHandleId(h(1))}, &handle,
       RatchetRecordV1(core::VaultHandleRatchetRecordV1{VaultHandleId(h(1)), 3, ""})},
      {"group_member_unbound", core::entity::GroupMember{GroupMemberId(h(1))}, nullptr,
       RatchetRecordV1(core::GroupMemberRatchetRecordV1{GroupMemberId(h(1)), 3, std::nullopt})},
      {"secret_unbound_has_empty_selector", secret_key(1), nullptr, secret(1, 3, core::SecretSelectorV1{})},
  };
  for (const Case& c : cases) EXPECT_EQ(ratchet_record_from_counter(c.key, 3, c.binding), c.want) << c.name;

  // A record carrying a binding is rebuilt exactly from its key, counter and binding.
  for (const RatchetRecordV1& r : {secret(2, 9, kPath), user_handle(2, 9, "bob"),
                                   RatchetRecordV1(core::GroupMemberRatchetRecordV1{GroupMemberId(h(2)), 9, kInput})}) {
    const auto b = ratchet_record_binding(r);
    EXPECT_EQ(ratchet_record_from_counter(*ratchet_record_key(r), 9, b ? &*b : nullptr), r);
  }
}

TEST(RatchetState, ApplyRecordOnlyGrows) {
  struct Case {
    const char* name;
    std::vector<RatchetRecordV1> applied;
    FlatMap<EntityKey, std::uint64_t> counters;
    FlatMap<EntityKey, EntityBinding> bindings;
    std::uint64_t format_version;
  };
  const Case cases[] = {
      {"lower_counter_keeps_higher", {user(1, 7), user(1, 5)}, {{user_key(1), 7}}, {}, 0},
      {"higher_counter_raises", {user(1, 7), user(1, 9)}, {{user_key(1), 9}}, {}, 0},
      {"first_binding_kept", {user_handle(1, 1, "alice"), user_handle(1, 2, "mallory")},
       {{user_handle_key(1), 2}}, {{user_handle_key(1), binding::UserHandle{"alice"}}}, 0},
      {"empty_handle_counts_without_binding", {user_handle(1, 4, "")}, {{user_handle_key(1), 4}}, {}, 0},
      {"binding_after_unbound_record", {user_handle(1, 4, ""), user_handle(1, 1, "carol")}, {{user_handle_key(1), 4}},
       {{user_handle_key(1), binding::UserHandle{"carol"}}}, 0},
      {"secret_without_path_has_no_binding", {secret(1, 2, core::SecretSelectorV1{{}, {{"k", "v"}}})},
       {{secret_key(1), 2}}, {}, 0},
      {"format_version_takes_maximum",
       {RatchetRecordV1::format_version(3), RatchetRecordV1::format_version(1)}, {}, {}, 3},
      {"trusted_root_changes_nothing", {trusted_root(h(8))}, {}, {}, 0},
      {"counter_zero_is_remembered", {user(1, 0)}, {{user_key(1), 0}}, {}, 0},
  };
  for (const Case& c : cases) {
    RatchetState s = RatchetState::fresh(h(9));
    for (const RatchetRecordV1& r : c.applied) s.apply_record(r);
    EXPECT_EQ(s.trusted_root, h(9)) << c.name;
    EXPECT_EQ(s.counters, c.counters) << c.name;
    EXPECT_EQ(s.bindings, c.bindings) << c.name;
    EXPECT_EQ(s.format_version, c.format_version) << c.name;
  }
}

// A baseline seeds the state of the root it is given, whatever roots its records name.
TEST(RatchetState, FromBaselineAppliesInListOrderUnderTheGivenRoot) {
  const std::vector<RatchetRecordV1> baseline = {
      trusted_root(h(8)),          user(1, 7), user(1, 5), user_handle(2, 1, "alice"),
      user_handle(2, 3, "mallory"), RatchetRecordV1::format_version(1), RatchetRecordV1::format_version(0),
  };
  RatchetState s = RatchetState::from_baseline(h(9), baseline);
  EXPECT_EQ(s.trusted_root, h(9));
  EXPECT_TRUE(s.raw_records.empty());
  EXPECT_EQ(s.counters, (FlatMap<EntityKey, std::uint64_t>{{user_key(1), 7}, {user_handle_key(2), 3}}));
  EXPECT_EQ(s.bindings, (FlatMap<EntityKey, EntityBinding>{{user_handle_key(2), binding::UserHandle{"alice"}}}));
  EXPECT_EQ(s.format_version, 1u);

  EXPECT_EQ(RatchetState::from_baseline(h(9), {}), RatchetState::fresh(h(9)));
}

TEST(RatchetState, ToRecordsOrderAndRoundTrip) {
  RatchetState fresh = RatchetState::fresh(h(9));
  EXPECT_EQ(fresh.to_records(), std::vector<RatchetRecordV1>{trusted_root(h(9))});
  fresh.format_version = 1;
  EXPECT_EQ(fresh.to_records(), (std::vector<RatchetRecordV1>{RatchetRecordV1::format_version(1), trusted_root(h(9))}));

  RatchetState s = RatchetState::fresh(h(9));
  for (const RatchetRecordV1& r :
       {secret(2, 4, kPath), user(5, 1), user(1, 2), user_handle(3, 6, "alice"), secret(1, 3, core::SecretSelectorV1{}),
        RatchetRecordV1(core::GroupMemberRatchetRecordV1{GroupMemberId(h(1)), 5, kInput}),
        RatchetRecordV1(core::EntryPointRatchetRecordV1{UserId(h(6)), 1}), RatchetRecordV1::format_version(1)}) {
    s.apply_record(r);
  }
  // A counter under the root's key and a binding of the wrong kind cannot be written as records.
  s.counters[core::entity::VaultRoot{}] = 4;
  s.bindings.insert_or_assign(secret_key(2), binding::UserHandle{"not-a-selector"});
  // Entity key order (EntryPoint, User, UserHandle, GroupMember, Secret), then FormatVersion,
  // then TrustedRoot.
  const std::vector<RatchetRecordV1> want = {
      core::EntryPointRatchetRecordV1{UserId(h(6)), 1},
      user(1, 2),
      user(5, 1),
      user_handle(3, 6, "alice"),
      core::GroupMemberRatchetRecordV1{GroupMemberId(h(1)), 5, kInput},
      secret(1, 3, core::SecretSelectorV1{}),
      secret(2, 4, core::SecretSelectorV1{}),
      RatchetRecordV1::format_version(1),
      trusted_root(h(9)),
  };
  EXPECT_EQ(s.to_records(), want);

  s.bindings[secret_key(2)] = kPath;
  s.counters.erase(core::entity::VaultRoot{});
  RatchetState again = RatchetState::fresh(h(9));
  for (const RatchetRecordV1& r : s.to_records()) again.apply_record(r);
  EXPECT_EQ(again, s);
}

TEST(RatchetState, AdvanceNeverLowersOrReplaces) {
  RatchetState s = RatchetState::fresh(h(9));
  s.apply_record(user(1, 7));
  s.apply_record(user_handle(2, 3, "alice"));
  s.format_version = 1;

  RatchetView view;
  view.counters = {{user_key(1), 5}, {user_handle_key(2), 4}, {secret_key(3), 2}};
  view.bindings = {{user_handle_key(2), binding::UserHandle{"mallory"}}, {secret_key(3), kPath}};
  view.format_version = 0;
  s.advance(view);
  EXPECT_EQ(s.counters,
            (FlatMap<EntityKey, std::uint64_t>{{user_key(1), 7}, {user_handle_key(2), 4}, {secret_key(3), 2}}));
  EXPECT_EQ(s.bindings, (FlatMap<EntityKey, EntityBinding>{{user_handle_key(2), binding::UserHandle{"alice"}},
                                                            {secret_key(3), kPath}}));
  EXPECT_EQ(s.format_version, 1u);

  view = RatchetView{};
  view.format_version = 2;
  s.advance(view);
  EXPECT_EQ(s.format_version, 2u);
  view.format_version.reset();
  s.advance(view);
  EXPECT_EQ(s.format_version, 2u);
}

TEST(RatchetState, MergeTakesMaximaKeepsOwnBindingsAndAddsNewRawEntries) {
  RatchetState mine = RatchetState::fresh(h(9));
  mine.apply_record(user(1, 7));
  mine.apply_record(user_handle(2, 1, "alice"));
  mine.raw_records = {{0, 0, 0, 10, 1}};
  mine.format_version = 1;

  RatchetState theirs = RatchetState::fresh(h(9));
  theirs.apply_record(user(1, 4));
  theirs.apply_record(user(3, 2));
  theirs.apply_record(user_handle(2, 5, "mallory"));
  theirs.raw_records = {{0, 0, 0, 11}, {0, 0, 0, 10, 1}, {0, 0, 0, 10}};
  theirs.format_version = 2;

  ASSERT_TRUE(mine.merge(theirs));
  EXPECT_EQ(mine.counters,
            (FlatMap<EntityKey, std::uint64_t>{{user_key(1), 7}, {user_key(3), 2}, {user_handle_key(2), 5}}));
  EXPECT_EQ(mine.bindings, (FlatMap<EntityKey, EntityBinding>{{user_handle_key(2), binding::UserHandle{"alice"}}}));
  EXPECT_EQ(mine.format_version, 2u);
  // Ours first, then theirs that were new, in their order; the shared one once.
  EXPECT_EQ(mine.raw_records, (std::vector<cord::Bytes>{{0, 0, 0, 10, 1}, {0, 0, 0, 11}, {0, 0, 0, 10}}));

  const RatchetState before = mine;
  ASSERT_TRUE(mine.merge(mine));
  EXPECT_EQ(mine, before);

  RatchetState other_root = RatchetState::fresh(h(8));
  other_root.apply_record(user(1, 100));
  auto r = mine.merge(other_root);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), OpsError::RecoveryMismatch);
  EXPECT_EQ(r.error().message(), "transaction recovery found a file that matches neither its before nor after state");
  EXPECT_EQ(mine, before);
}

TEST(RatchetState, FromStoreKeepsRawEntriesByteForByte) {
  // Index 10 is a later version's record kind; a membership naming principal variant 2 is one
  // too, kept whole.
  const cord::Bytes later = from_hex("0000000a 01 02");
  auto member = cord::to_vec(RatchetRecordV1(core::GroupMemberRatchetRecordV1{GroupMemberId(h(1)), 5, kInput}));
  ASSERT_TRUE(member);
  cord::Bytes nested(member->begin(), member->end());
  nested[nested.size() - 32 - 4 - 1] = 2;  // the member's variant index, last byte
  ASSERT_EQ(nested[nested.size() - 32 - 4 - 4], 0);

  RatchetState s = RatchetState::fresh(h(9));
  s.apply_record(user(1, 3));
  s.apply_record(secret(2, 4, kPath));
  s.format_version = 1;
  s.raw_records = {later, nested};
  const std::string file = store_hex(s.to_elements());
  // Six entries; the 6-byte raw payload sorts first, then the 12-byte FormatVersion entry.
  const std::string head = "00000000" "00000006" "00000006" "0000000a0102" "0000000c" "00000008" "0000000000000001";
  EXPECT_EQ(file.substr(0, head.size()), head);

  auto back = state_of_store(file);
  ASSERT_TRUE(back) << back.error().message();
  EXPECT_EQ(back->trusted_root, s.trusted_root);
  EXPECT_EQ(back->counters, s.counters);
  EXPECT_EQ(back->bindings, s.bindings);
  EXPECT_EQ(back->format_version, 1u);
  // Raw payloads come back in file order (by encoding), unchanged, and are written back so.
  EXPECT_EQ(back->raw_records, (std::vector<cord::Bytes>{later, nested}));
  EXPECT_EQ(store_hex(back->to_elements()), file);
}

TEST(RatchetState, FromStoreNeedsExactlyOneTrustedRoot) {
  struct Case {
    const char* name;
    std::vector<RatchetElement> entries;
    std::string error;  // empty: accepted
  };
  const std::string missing = "Cord could not validate: ratchet file missing its trusted-root record";
  const Case cases[] = {
      {"no_entries", {}, missing},
      {"no_root", {RatchetElement(user(1, 2))}, missing},
      {"one_root", {RatchetElement(user(1, 2)), RatchetElement(trusted_root(h(9)))}, ""},
      {"short_root_accepted_here", {RatchetElement(trusted_root(HashValue(cord::Bytes(31, 9))))}, ""},
      {"two_roots", {RatchetElement(trusted_root(h(8))), RatchetElement(trusted_root(h(9)))},
       "Cord could not validate: ratchet file has several trusted-root records"},
      {"raw_entry_is_not_a_root", {RatchetElement::raw(from_hex("0000000a"))}, missing},
  };
  for (const Case& c : cases) {
    auto s = RatchetState::from_store(c.entries);
    if (c.error.empty()) {
      EXPECT_TRUE(s) << c.name;
    } else {
      ASSERT_FALSE(s) << c.name;
      EXPECT_EQ(s.error().message(), c.error) << c.name;
    }
  }
  // Through the stored bytes as well: two roots in one file.
  auto two = state_of_store(store_hex({RatchetElement(trusted_root(h(8))), RatchetElement(trusted_root(h(9)))}));
  ASSERT_FALSE(two);
  EXPECT_EQ(two.error().text(), "ratchet file has several trusted-root records");
}

TEST(RatchetState, FromStoreWalksEntriesInFileOrder) {
  // Two records of one handle with different texts: the file sorts the shorter payload first,
  // and the first binding met is the one remembered.
  const std::string file = store_hex({RatchetElement(user_handle(1, 2, "alice")),
                                      RatchetElement(user_handle(1, 1, "bob")), RatchetElement(trusted_root(h(9)))});
  auto s = state_of_store(file);
  ASSERT_TRUE(s) << s.error().message();
  EXPECT_EQ(s->counters.at(user_handle_key(1)), 2u);
  EXPECT_EQ(s->bindings.at(user_handle_key(1)), EntityBinding(binding::UserHandle{"bob"}));
}

// A file of many records, keys repeated with other counters and bindings, loads as the records
// applied one at a time in file order would: the highest counter, the first binding met. The
// file's order (by encoding: record kinds numbered unlike entity kinds, shorter payloads first)
// is not key order, and the state comes back in key order all the same.
TEST(RatchetState, ManyRecordsLoadAsAppliedOneByOneInFileOrder) {
  std::mt19937 rng(7);
  auto below = [&rng](std::uint32_t n) { return rng() % n; };
  const std::string handles[] = {"", "al", "bob", "carol"};
  const core::SecretSelectorV1 selectors[] = {core::SecretSelectorV1{}, kPath, {{"x"}, {}}, {{"app", "db", "ro"}, {}}};
  std::vector<std::uint64_t> counters(400);
  std::iota(counters.begin(), counters.end(), std::uint64_t{0});
  std::shuffle(counters.begin(), counters.end(), rng);  // distinct, so no two entries are equal
  std::vector<RatchetElement> elements = {RatchetElement(trusted_root(h(9)))};
  for (std::uint64_t counter : counters) {
    const auto id = static_cast<std::uint8_t>(1 + below(12));
    switch (below(5)) {
      case 0: elements.emplace_back(user(id, counter)); break;
      case 1: elements.emplace_back(user_handle(id, counter, handles[below(4)])); break;
      case 2: elements.emplace_back(secret(id, counter, selectors[below(4)])); break;
      case 3: elements.emplace_back(RatchetRecordV1(core::EntryPointRatchetRecordV1{UserId(h(id)), counter})); break;
      default: elements.emplace_back(RatchetRecordV1::format_version(counter)); break;
    }
  }
  auto store = cord::from_slice<core::RatchetStore>(from_hex(store_hex(elements)));
  ASSERT_TRUE(store) << store.error().message();
  const auto& in_file = std::get<0>(*store).items();

  std::map<EntityKey, std::uint64_t> want_counters;
  std::map<EntityKey, EntityBinding> want_bindings;
  std::uint64_t want_version = 0;
  RatchetState one_by_one = RatchetState::fresh(h(9));
  std::vector<RatchetRecordV1> records;
  bool out_of_key_order = false;
  std::optional<EntityKey> last;
  for (const RatchetElement& e : in_file) {
    const RatchetRecordV1& r = *e.known();
    records.push_back(r);
    one_by_one.apply_record(r);
    if (r.kind() == RatchetRecordV1::FormatVersion) want_version = std::max(want_version, std::get<8>(r.variant()));
    const std::optional<EntityKey> key = ratchet_record_key(r);
    if (!key) continue;
    if (last && *key < *last) out_of_key_order = true;
    last = key;
    std::uint64_t& c = want_counters[*key];
    c = std::max(c, counter_of(r));
    if (auto b = ratchet_record_binding(r)) want_bindings.try_emplace(*key, std::move(*b));
  }
  ASSERT_TRUE(out_of_key_order) << "the case must not be one the file's order sorts already";

  auto loaded = RatchetState::from_store(in_file);
  ASSERT_TRUE(loaded) << loaded.error().message();
  using Counters = std::vector<std::pair<EntityKey, std::uint64_t>>;
  using Bindings = std::vector<std::pair<EntityKey, EntityBinding>>;
  EXPECT_EQ(Counters(loaded->counters.begin(), loaded->counters.end()),
            Counters(want_counters.begin(), want_counters.end()));
  EXPECT_EQ(Bindings(loaded->bindings.begin(), loaded->bindings.end()),
            Bindings(want_bindings.begin(), want_bindings.end()));
  EXPECT_EQ(loaded->format_version, want_version);
  EXPECT_EQ(*loaded, one_by_one);
  EXPECT_EQ(RatchetState::from_baseline(h(9), records), one_by_one);
  // Merging the two halves of the file in turn into a fresh state also gives it.
  const std::span<const RatchetRecordV1> all(records);
  RatchetState merged = RatchetState::fresh(h(9));
  ASSERT_TRUE(merged.merge(RatchetState::from_baseline(h(9), all.first(all.size() / 2))));
  ASSERT_TRUE(merged.merge(RatchetState::from_baseline(h(9), all.subspan(all.size() / 2))));
  EXPECT_EQ(merged, one_by_one);
}

// Records in any order fold in as applied one at a time: counters by maximum, the first binding
// met kept. Ids that share their leading bytes are ordered by the rest, and equal keys keep the
// order met, whether the records come in many short runs or in a few long ones.
TEST(RatchetState, RecordsInAnyOrderFoldInAsAppliedOneByOne) {
  auto id = [](std::uint8_t fill, std::size_t at, std::uint8_t last) {
    cord::Bytes b(32, fill);
    b[at] = last;
    return HashValue(b);
  };
  // Alike in their first seven bytes, apart from the first and the last.
  const HashValue ids[] = {id(5, 7, 1), id(5, 7, 2), id(5, 31, 9), id(5, 8, 0), id(6, 0, 6), id(4, 0, 4)};
  const std::string handles[] = {"", "al", "bob"};
  const core::SecretSelectorV1 selectors[] = {core::SecretSelectorV1{}, kPath, {{"x"}, {}}};
  std::mt19937 rng(11);
  auto below = [&rng](std::uint32_t n) { return rng() % n; };
  std::vector<RatchetRecordV1> records;
  for (std::uint64_t n = 0; n < 600; ++n) {
    const HashValue& at = ids[below(6)];
    const std::uint64_t counter = below(50);
    switch (below(3)) {
      case 0: records.emplace_back(core::UserRatchetRecordV1{UserId(at), counter}); break;
      case 1: records.emplace_back(core::UserHandleRatchetRecordV1{UserHandleId(at), counter, handles[below(3)]}); break;
      default: records.emplace_back(core::SecretRatchetRecordV1{SecretId(at), counter, selectors[below(3)]}); break;
    }
  }
  // A few ascending runs: the records sorted by key in five blocks (a stable sort keeps the order
  // met among equal keys).
  std::vector<RatchetRecordV1> runs = records;
  auto by_key = [](const RatchetRecordV1& a, const RatchetRecordV1& b) {
    return *ratchet_record_key(a) < *ratchet_record_key(b);
  };
  for (std::size_t block = 0; block < 5; ++block) {
    auto from = runs.begin() + static_cast<std::ptrdiff_t>(block * 120);
    std::stable_sort(from, from + 120, by_key);
  }
  struct Case {
    const char* name;
    const std::vector<RatchetRecordV1>& records;
  } cases[] = {{"many short runs", records}, {"five long runs", runs}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RatchetState one_by_one = RatchetState::fresh(h(9));
    std::map<EntityKey, std::uint64_t> want_counters;
    std::map<EntityKey, EntityBinding> want_bindings;
    for (const RatchetRecordV1& r : c.records) {
      one_by_one.apply_record(r);
      std::uint64_t& held = want_counters[*ratchet_record_key(r)];
      held = std::max(held, counter_of(r));
      if (auto b = ratchet_record_binding(r)) want_bindings.try_emplace(*ratchet_record_key(r), std::move(*b));
    }
    const RatchetState folded = RatchetState::from_baseline(h(9), c.records);
    using Counters = std::vector<std::pair<EntityKey, std::uint64_t>>;
    using Bindings = std::vector<std::pair<EntityKey, EntityBinding>>;
    EXPECT_EQ(Counters(folded.counters.begin(), folded.counters.end()),
              Counters(want_counters.begin(), want_counters.end()));
    EXPECT_EQ(Bindings(folded.bindings.begin(), folded.bindings.end()),
              Bindings(want_bindings.begin(), want_bindings.end()));
    EXPECT_EQ(folded, one_by_one);
  }
}

TEST(RatchetState, HasRolledBack) {
  struct Case {
    const char* name;
    std::vector<std::optional<std::uint64_t>> rolled_back_from;  // one unresolved entity each
    bool want;
  };
  const Case cases[] = {
      {"nothing_unresolved", {}, false},
      {"conflict_only", {std::nullopt}, false},
      {"rolled_back", {5}, true},
      {"rolled_back_from_zero", {0}, true},
      {"conflict_and_rollback", {std::nullopt, 3}, true},
  };
  for (const Case& c : cases) {
    VaultState state;
    std::uint8_t id = 1;
    for (const auto& from : c.rolled_back_from) {
      UnresolvedEntry e;
      e.rolled_back_from = from;
      e.key = secret_key(id++);
      state.unresolved.emplace(e.key, e);
    }
    EXPECT_EQ(has_rolled_back(state), c.want) << c.name;
  }
}

}  // namespace
}  // namespace ostrel::validate
