// Entity keys, principals, selectors and grant permissions: encodings, order, text forms and the
// structure rules with their messages.
#include <gtest/gtest.h>

#include "core/access.h"
#include "core/entity_key.h"
#include "core/ids.h"
#include "support/hex.h"

namespace ostrel::core {
namespace {

using testing::from_hex;
using testing::to_hex;

HashValue hv(std::vector<std::uint8_t> b) { return HashValue(std::move(b)); }

// The message of decoding `hex` as T, or "" when it decodes.
template <class T>
std::string decode_error(const std::string& hex) {
  auto r = cord::from_slice<T>(from_hex(hex));
  return r ? "" : r.error().message();
}

template <class T>
std::string hex_of(const T& v) {
  auto r = cord::to_vec(v);
  return r ? to_hex(*r) : "error: " + r.error().message();
}

KeyspaceSelectorV1 keyspace(TupleMatcherV1 tuple, std::vector<KeyspaceLabelMatcherV1> labels = {}) {
  return KeyspaceSelectorV1{std::move(tuple), std::move(labels)};
}

TEST(EntityKey, DebugTextEncodingAndOrder) {
  const EntityKey user = entity::User{UserId(hv({0, 17, 255}))};
  EXPECT_EQ(user.debug(), "User { user_id: UserId(HashValue([0, 17, 255])) }");
  EXPECT_EQ(EntityKey(entity::VaultRoot{}).debug(), "VaultRoot");
  EXPECT_EQ(EntityKey(entity::GroupMember{GroupMemberId(hv({1}))}).debug(),
            "GroupMember { group_member_id: GroupMemberId(HashValue([1])) }");
  EXPECT_EQ(EntityKey(entity::VaultHandle{VaultHandleId(hv({}))}).debug(),
            "VaultHandle { handle_id: VaultHandleId(HashValue([])) }");

  const EntityKey secret = entity::Secret{SecretId(hv(std::vector<std::uint8_t>(32, 0xab)))};
  std::string ab32;
  for (int i = 0; i < 32; ++i) ab32 += "ab";
  EXPECT_EQ(hex_of(secret), "00000007" "00000020" + ab32);
  EXPECT_EQ(cord::to_vec(secret)->size(), 40u);
  EXPECT_EQ(hex_of(EntityKey(entity::VaultRoot{})), "00000000");
  auto back = cord::from_slice<EntityKey>(*cord::to_vec(secret));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, secret);

  // Variant first, whatever the ids; then id bytes with a prefix first.
  const EntityKey group = entity::Group{GroupId(hv({0}))};
  const EntityKey user_ff = entity::User{UserId(hv(std::vector<std::uint8_t>(32, 0xff)))};
  EXPECT_LT(user_ff, group);
  const EntityKey s3 = entity::Secret{SecretId(hv({1, 2, 3}))};
  const EntityKey s32 = entity::Secret{SecretId(hv([] {
    std::vector<std::uint8_t> b(32, 0);
    b[0] = 1, b[1] = 2, b[2] = 3;
    return b;
  }()))};
  EXPECT_LT(s3, s32);
  EXPECT_NE(std::hash<EntityKey>()(s3), std::hash<EntityKey>()(s32));
  // Same id bytes under different variants are different keys.
  EXPECT_NE(EntityKey(entity::User{UserId(hv({7}))}), EntityKey(entity::EntryPoint{UserId(hv({7}))}));
}

TEST(Access, EncodingExamples) {
  const GrantPermissionV1 read = grant_permission::Read{keyspace(
      tuple_matcher::Prefix{{"prod"}}, {KeyspaceLabelMatcherV1{"env", label_matcher::In{{"a", "b"}}}})};
  const std::string read_hex =
      "00000000" "00000002" "00000001" "0000000470726f64" "00000001" "00000003656e76" "00000002"
      "00000002" "0000000161" "0000000162";
  EXPECT_EQ(hex_of(read), read_hex);
  EXPECT_EQ(read_hex.size(), 98u);
  const GrantPermissionV1 manage = ManageKeyspaceGrantV1{
      keyspace(tuple_matcher::Any{}), {KeyspaceGrantClassV1::Read, KeyspaceGrantClassV1::Write}};
  EXPECT_EQ(hex_of(manage), "00000002" "00000000" "00000000" "00000002" "00000000" "00000001");
  for (const auto& [value, hex] : {std::pair{read, read_hex}, std::pair{manage, hex_of(manage)}}) {
    auto back = cord::from_slice<GrantPermissionV1>(from_hex(hex));
    ASSERT_TRUE(back) << back.error().message();
    EXPECT_EQ(*back, value);
  }
  EXPECT_EQ(hex_of(PrincipalRefV1(GroupId(hv({9})))), "00000001" "0000000109");
}

TEST(Access, UnknownVariantIndexes) {
  EXPECT_EQ(decode_error<PrincipalRefV1>("00000002"), "Cord encountered unknown enum variant index 2");
  EXPECT_EQ(decode_error<LabelMatcherV1>("00000004"), "Cord encountered unknown enum variant index 4");
  EXPECT_EQ(decode_error<KeyspaceGrantClassV1>("00000003"), "Cord encountered unknown enum variant index 3");
  EXPECT_EQ(decode_error<TupleMatcherV1>("00000003"), "Cord encountered unknown enum variant index 3");
  EXPECT_EQ(decode_error<GrantPermissionV1>("00000004"), "Cord encountered unknown enum variant index 4");
  EXPECT_EQ(decode_error<GrantPermissionV1>("00000003"), "");
}

TEST(SecretId, KnownAnswersAndStoredLabelOrder) {
  auto app_db = core::derive_secret_id(SecretSelectorV1{{"app", "db"}, {}});
  ASSERT_TRUE(app_db);
  EXPECT_EQ(to_hex(app_db->value.bytes), "6ff5bdc23daca0e5ad4bf68ceba9c7bef3064aebc5ffbc19e1d54f90bc97ccd3");
  auto prod_db = core::derive_secret_id(SecretSelectorV1{{"prod", "db"}, {{"env", "x"}}});
  ASSERT_TRUE(prod_db);
  EXPECT_EQ(to_hex(prod_db->value.bytes), "d60ee9cdf8eaedae8e3db9f440928f8e0655ab134dd75fa840e6f2db106cc816");
  // The id depends on the labels as stored: reordering them changes it.
  auto ab = core::derive_secret_id(SecretSelectorV1{{"p"}, {{"a", "1"}, {"b", "2"}}});
  auto ba = core::derive_secret_id(SecretSelectorV1{{"p"}, {{"b", "2"}, {"a", "1"}}});
  ASSERT_TRUE(ab && ba);
  EXPECT_NE(*ab, *ba);
  // An out-of-order selector decodes and re-encodes unchanged.
  const SecretSelectorV1 unsorted{{"p"}, {{"b", "2"}, {"a", "1"}}};
  auto bytes = cord::to_vec(unsorted);
  auto back = cord::from_slice<SecretSelectorV1>(*bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, unsorted);
}

TEST(GroupMemberId, DerivedFromGroupAndMember) {
  const GroupId g(hv(std::vector<std::uint8_t>(32, 1)));
  const UserId u(hv(std::vector<std::uint8_t>(32, 2)));
  auto as_user = core::derive_group_member_id(GroupMemberIdInputV1{g, PrincipalRefV1(u)});
  auto as_group = core::derive_group_member_id(GroupMemberIdInputV1{g, PrincipalRefV1(GroupId(u.value))});
  ASSERT_TRUE(as_user && as_group);
  EXPECT_NE(*as_user, *as_group);  // the member's variant index is hashed too
  EXPECT_EQ(hex_of(GroupMemberIdInputV1{GroupId(hv({1})), PrincipalRefV1(u)}).substr(0, 18), "000000010100000000");
}

std::string check(const StructureCheck& r) { return r ? "" : r.error().structure_message(); }

TEST(StructureRules, SecretSelector) {
  struct Case {
    const char* name;
    SecretSelectorV1 selector;
    const char* want;
  };
  const Case cases[] = {
      {"prefix_key_first", {{"p"}, {{"ab", "1"}, {"abc", "2"}}}, ""},
      {"longer_key_first", {{"p"}, {{"abc", "1"}, {"ab", "2"}}}, "secret selector labels must be sorted and unique"},
      {"bytes_not_case", {{"p"}, {{"Zone", "1"}, {"apple", "2"}}}, ""},
      {"same_key_other_values", {{"p"}, {{"k", "1"}, {"k", "2"}}}, "secret selector labels must be sorted and unique"},
      {"empty_path", {{}, {}}, ""},
      {"empty_segment", {{""}, {}}, ""},
      {"non_ascii_after_ascii", {{"p"}, {{"z", "1"}, {"\xc3\xa9", "2"}}}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(check(check_structure(c.selector)), c.want) << c.name;
}

TEST(StructureRules, KeyspaceAndPermissions) {
  using In = label_matcher::In;
  const KeyspaceLabelMatcherV1 empty_in{"b", In{{}}};
  struct Case {
    const char* name;
    GrantPermissionV1 permission;
    const char* want;
  };
  const Case cases[] = {
      {"prefix_empty", grant_permission::Read{keyspace(tuple_matcher::Prefix{})}, "empty tuple prefix must be encoded as any"},
      {"exact_empty", grant_permission::Read{keyspace(tuple_matcher::Exact{})}, ""},
      {"any", grant_permission::Write{keyspace(tuple_matcher::Any{})}, ""},
      {"keys_first", grant_permission::Read{keyspace(tuple_matcher::Any{}, {{"z", label_matcher::Present{}}, empty_in})},
       "keyspace selector labels must be sorted and unique"},
      {"in_empty", grant_permission::Read{keyspace(tuple_matcher::Any{}, {empty_in})}, "label in matcher must not be empty"},
      {"in_repeat", grant_permission::Read{keyspace(tuple_matcher::Any{}, {{"k", In{{"x", "x"}}}})},
       "label in matcher must be sorted and unique"},
      {"in_sorted", grant_permission::Read{keyspace(tuple_matcher::Any{}, {{"k", In{{"x", "xy"}}}})}, ""},
      {"equals_empty", grant_permission::Read{keyspace(tuple_matcher::Any{}, {{"k", label_matcher::Equals{""}}})}, ""},
      {"manage_bad_selector_first",
       ManageKeyspaceGrantV1{keyspace(tuple_matcher::Prefix{}), {}}, "empty tuple prefix must be encoded as any"},
      {"manage_no_class", ManageKeyspaceGrantV1{keyspace(tuple_matcher::Any{}), {}},
       "manage grant must grant at least one class"},
      {"manage_reversed",
       ManageKeyspaceGrantV1{keyspace(tuple_matcher::Any{}), {KeyspaceGrantClassV1::Write, KeyspaceGrantClassV1::Read}},
       "manage grant classes must be sorted and unique"},
      {"manage_repeat",
       ManageKeyspaceGrantV1{keyspace(tuple_matcher::Any{}), {KeyspaceGrantClassV1::Read, KeyspaceGrantClassV1::Read}},
       "manage grant classes must be sorted and unique"},
      {"manage_all",
       ManageKeyspaceGrantV1{keyspace(tuple_matcher::Any{}),
                             {KeyspaceGrantClassV1::Read, KeyspaceGrantClassV1::Write, KeyspaceGrantClassV1::Manage}},
       ""},
      {"admin", grant_permission::Admin{}, ""},
  };
  for (const Case& c : cases) {
    const auto r = check_structure(c.permission);
    EXPECT_EQ(check(r), c.want) << c.name;
    if (!r) {
      EXPECT_EQ(r.error().kind(), ValidationIssue::InvalidStructure);
    }
  }
}

}  // namespace
}  // namespace ostrel::core

namespace ostrel::core {
namespace {

TEST(SelectorInput, NormalisedSortedAndRefusedWhenKeysCoincide) {
  // Decomposed é (e + U+0301) everywhere; labels given out of order.
  auto s = SecretSelectorV1::from_input({"cafe\xcc\x81"}, {{"z", "1"}, {"cafe\xcc\x81", "v\xcc\x81"}}, "ignored");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->tuple, std::vector<cord::Text>{"caf\xc3\xa9"});
  ASSERT_EQ(s->labels.size(), 2u);
  EXPECT_EQ(s->labels[0].key, "caf\xc3\xa9");  // 0x63 < 0x7a
  EXPECT_EQ(s->labels[0].value, "v\xcc\x81");    // v + U+0301 has no composed form: unchanged
  EXPECT_TRUE(check_structure(*s));
  // The same selector handed over precomposed gives the same id: it is stored as one secret.
  auto composed = SecretSelectorV1::from_input({"caf\xc3\xa9"}, {{"caf\xc3\xa9", "v\xcc\x81"}, {"z", "1"}}, "x");
  ASSERT_TRUE(composed);
  EXPECT_EQ(*core::derive_secret_id(*s), *core::derive_secret_id(*composed));
  // Two keys that differ only in normalisation become one key: refused.
  auto dup = SecretSelectorV1::from_input({"p"}, {{"caf\xc3\xa9", "1"}, {"cafe\xcc\x81", "2"}}, "p@k=1");
  ASSERT_FALSE(dup);
  EXPECT_EQ(dup.error().kind(), FrontendError::InvalidSelector);
  EXPECT_EQ(dup.error().message(), "invalid selector \"p@k=1\": a label key may appear only once");
}

}  // namespace
}  // namespace ostrel::core
