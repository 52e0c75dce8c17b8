// Vault records: encodings and known answers, raw bodies of later versions, entity keys and
// counters, signing, and the structure test with every message.
#include <gtest/gtest.h>

#include "core/ids.h"
#include "core/record_check_internal.h"
#include "core/record_sign.h"
#include "crypto/domain_hash.h"
#include "support/hex.h"
#include "support/identities.h"

namespace ostrel::core {
namespace {

using testing::from_hex;
using testing::to_hex;

Bytes bytes_of(const std::array<std::uint8_t, 32>& a) { return Bytes(a.begin(), a.end()); }

TEST(Records, RootRecordKnownAnswers) {
  const crypto::Identity zero = testing::identity_of(0);
  const VaultRecordV1 root = testing::root_record(zero);
  EXPECT_EQ(root.encoding().size(), 184u);
  EXPECT_EQ(root.signed_message().size(), 80u);  // 4-byte length + 76-byte body payload
  EXPECT_EQ(to_hex(root.signature()),
            "20b90a1920b06b04c33d48203d5ba5e016c4303802d36cfd97dddc29224e23f4"
            "137b0c4a438152c4f30f6fe4a45f7d270383e3e627a8585d3727c7876abcc204");
  EXPECT_EQ(to_hex(record_hash(root).bytes), "d32b3bec2b9001d14b9e57c6db2c875f5b09faaeed96943eef5c5a79e2f03150");

  const crypto::Identity counting = testing::identity_from_seed(testing::counting_seed());
  EXPECT_EQ(to_hex(record_hash(testing::root_record(counting)).bytes),
            "21d6a24e777e21f0d15db60000a446e8a298088fc5e82ea5f88106bf62372808");
  auto deleted = SecretDeletedRecordV1::create_signed(counting, SecretSelectorV1{{"app", "db"}, {}}, 1);
  ASSERT_TRUE(deleted);
  EXPECT_EQ(to_hex(record_hash(*deleted).bytes), "d530541258c5860674758a2982fb1931a271ccf82815196c37a54cd644526619");
}

TEST(Records, DecodedRecordKeepsItsBytesAndReEncodesThem) {
  const VaultRecordV1 root = testing::root_record(testing::identity_of(1));
  auto back = cord::from_slice<VaultRecordV1>(root.encoding());
  ASSERT_TRUE(back) << back.error().message();
  EXPECT_EQ(*back, root);
  EXPECT_EQ(to_hex(back->encoding()), to_hex(root.encoding()));
  // The signature covers exactly the body's slot: signing again gives the same bytes.
  auto again = sign_record(testing::identity_of(1), root.body());
  ASSERT_TRUE(again);
  EXPECT_EQ(again->signature(), root.signature());
}

TEST(Records, UnknownBodiesTravelRawByteForByte) {
  // Index 14 at the top of the body.
  const std::string top = "00000005" "0000000e" "ff" "00000001" "aa" "00000000";
  // A Grant (8) whose grantee names principal variant 2.
  for (const std::string& hex : {top}) {
    auto r = cord::from_slice<VaultRecordV1>(from_hex(hex));
    ASSERT_TRUE(r) << r.error().message();
    EXPECT_TRUE(r->body().is_raw());
    EXPECT_EQ(to_hex(*cord::to_vec(*r)), to_hex(from_hex(hex)));
    // Made again from its parts (no kept bytes), it still writes the same bytes.
    const VaultRecordV1 rebuilt(r->body(), r->signing_public_key(), r->signature());
    EXPECT_EQ(to_hex(rebuilt.encoding()), to_hex(from_hex(hex)));
  }
  // Build the nested case from real parts so its payload length is right.
  GrantRecordV1 grant{GrantId(HashValue(Bytes{1})), IdSeed{Bytes{2}}, PrincipalRefV1(UserId(HashValue(Bytes{3}))),
                      grant_permission::Admin{}, 1};
  auto payload = cord::to_vec(RecordBodyV1(grant));
  ASSERT_TRUE(payload);
  // The grantee's variant index sits after 4 (kind) + 5 (grant id) + 5 (seed) bytes.
  (*payload)[4 + 5 + 5 + 3] = 2;
  cord::Buffer record;
  ASSERT_TRUE(cord::write_byte_string(record, *payload));
  ASSERT_TRUE(cord::write_byte_string(record, Bytes(32, 7)));
  ASSERT_TRUE(cord::write_byte_string(record, Bytes(64, 9)));
  auto r = cord::from_slice<VaultRecordV1>(record);
  ASSERT_TRUE(r) << r.error().message();
  EXPECT_TRUE(r->body().is_raw());
  EXPECT_EQ(to_hex(r->body().raw_payload()), to_hex(*payload));
  EXPECT_EQ(to_hex(*cord::to_vec(*r)), to_hex(record));
}

TEST(Records, BodyErrorsAreWrappedOutsideErrorsAreNot) {
  struct Case {
    const char* name;
    std::string hex;
    const char* want;
  };
  const Case cases[] = {
      {"body_too_short_for_fields", "00000008" "00000002" "00000001", "Cord deserialization error: Unexpected end of input"},
      {"body_trailing_byte", "00000005" "00000005" "00", "Cord deserialization error: Unexpected end of input"},
      {"payload_beyond_input", "00000010" "00000000", "Unexpected end of input"},
      {"detail_tag_2", "00000015" "0000000a" "00000001" "01" "02" "0000000000000001" "00000000" "00000000",
       "Cord deserialization error: Cord could not validate: Invalid option variant"},
  };
  for (const Case& c : cases) {
    auto r = cord::from_slice<VaultRecordV1>(from_hex(c.hex));
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().message(), c.want) << c.name;
  }
  // A valid root body with one byte too many inside its payload.
  const VaultRecordV1 root = testing::root_record(testing::identity_of(2));
  cord::Buffer padded;
  const Bytes payload(root.signed_message().begin() + 4, root.signed_message().end());
  Bytes longer = payload;
  longer.push_back(0);
  ASSERT_TRUE(cord::write_byte_string(padded, longer));
  ASSERT_TRUE(cord::write_byte_string(padded, root.signing_public_key()));
  ASSERT_TRUE(cord::write_byte_string(padded, root.signature()));
  EXPECT_EQ(cord::from_slice<VaultRecordV1>(padded).error().message(),
            "Cord deserialization error: trailing bytes in evolving payload");
  // Input that ends inside the signing key is the reader's own, unwrapped error.
  const cord::ByteView whole = root.encoding();
  const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + root.signed_message().size() + 9);
  EXPECT_EQ(cord::from_slice<VaultRecordV1>(cut).error().message(), "Unexpected end of input");
}

TEST(Records, StoreContainer) {
  EXPECT_EQ(to_hex(*cord::to_vec_versioned(cord::Set<VaultRecordV1>())), "0000000000000000");
  EXPECT_EQ(cord::from_slice<VaultStore>(from_hex("00000001 00000000")).error().message(),
            "Cord encountered unknown enum variant index 1");
  auto empty = cord::from_slice<VaultStore>(from_hex("00000000 00000000"));
  ASSERT_TRUE(empty);
  EXPECT_TRUE(std::get<0>(*empty).empty());
  // Two records differing only in signature bytes are two members.
  const VaultRecordV1 a = testing::root_record(testing::identity_of(3));
  Bytes other_sig = a.signature().to_vector();
  other_sig[63] ^= 1;
  const VaultRecordV1 b(a.body(), a.signing_public_key(), other_sig);
  auto file = cord::to_vec_versioned(cord::Set<VaultRecordV1>(std::vector<VaultRecordV1>{a, b}));
  ASSERT_TRUE(file);
  auto back = cord::from_slice<VaultStore>(*file);
  ASSERT_TRUE(back);
  EXPECT_EQ(std::get<0>(*back).size(), 2u);
  // Short keys and long signatures decode and re-encode unchanged.
  const VaultRecordV1 odd(a.body(), Bytes(31, 1), Bytes(65, 2));
  EXPECT_EQ(to_hex(cord::from_slice<VaultRecordV1>(odd.encoding())->encoding()), to_hex(odd.encoding()));
}

TEST(Records, EntityKeysAndCounters) {
  const UserId author(HashValue(Bytes(32, 0xa)));
  const UserId other(HashValue(Bytes(32, 0xb)));
  const PrincipalRefV1 member(other);
  const GroupMemberId gm(HashValue(Bytes{5}));
  struct Case {
    RecordBodyV1 body;
    EntityKey key;
    std::uint64_t counter;
  };
  const Case cases[] = {
      {VaultRootRecordV1{other, {}}, entity::VaultRoot{}, 0},
      {EntryPointRecordV1{other, {}, 3}, entity::EntryPoint{author}, 3},
      {UserRecordV1{other, {}, {}, 4}, entity::User{other}, 4},
      {UserDeletedRecordV1{other, std::nullopt, 5}, entity::User{other}, 5},
      {GroupMemberRecordV1{gm, GroupId(), member, 6}, entity::GroupMember{gm}, 6},
      {GroupMemberDeletedRecordV1{gm, GroupId(), member, 7}, entity::GroupMember{gm}, 7},
      {GrantDeletedRecordV1{GrantId(HashValue(Bytes{1})), grant_permission::Admin{}, 8},
       entity::Grant{GrantId(HashValue(Bytes{1}))}, 8},
      {SecretDeletedRecordV1{SecretId(HashValue(Bytes{2})), {}, 9}, entity::Secret{SecretId(HashValue(Bytes{2}))}, 9},
      {VaultHandleRecordV1{VaultHandleId(HashValue(Bytes{3})), "v", 10}, entity::VaultHandle{VaultHandleId(HashValue(Bytes{3}))}, 10},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.body.record_key(author), c.key) << c.key.debug();
    EXPECT_EQ(c.body.counter(), c.counter) << c.key.debug();
  }
  // Membership and its deletion differ only in the kind index.
  auto m = cord::to_vec(RecordBodyV1(GroupMemberRecordV1{gm, GroupId(), member, 1}));
  auto d = cord::to_vec(RecordBodyV1(GroupMemberDeletedRecordV1{gm, GroupId(), member, 1}));
  EXPECT_EQ(to_hex(*m).substr(8), to_hex(*d).substr(8));
  EXPECT_EQ(to_hex(*m).substr(0, 8), "00000006");
  EXPECT_EQ(to_hex(*d).substr(0, 8), "00000007");
  // Absent detail is one zero byte; a present empty one is 01 and a zero length.
  auto absent = cord::to_vec(UserDeletedRecordV1{UserId(HashValue(Bytes{})), std::nullopt, 0});
  auto empty = cord::to_vec(UserDeletedRecordV1{UserId(HashValue(Bytes{})), std::string(), 0});
  EXPECT_EQ(to_hex(*absent), "00000000" "00" "0000000000000000");
  EXPECT_EQ(to_hex(*empty), "00000000" "0100000000" "0000000000000000");
}

TEST(Records, SignerMismatchSignsNothing) {
  crypto::Identity liar = testing::identity_of(4);
  const UserId real = liar.user_id;
  liar.user_id = testing::identity_of(5).user_id;
  for (auto r : {SecretRecordV1::create_signed(liar, SecretSelectorV1{{"a"}, {}}, SealedPayloadV1{}, 1),
                 SecretDeletedRecordV1::create_signed(liar, SecretSelectorV1{{"a"}, {}}, 1)}) {
    ASSERT_FALSE(r);
    ASSERT_EQ(r.error().kind(), RecordError::SignerMismatch);
    EXPECT_EQ(r.error().mismatch().expected, liar.user_id);
    EXPECT_EQ(r.error().mismatch().actual, real);
    EXPECT_EQ(r.error().message(), "signer identity does not match signing public key");
  }
  EXPECT_EQ(RecordError(CoreError(cord::Error::Overflow)).message(),
            "core error: cord error: Value overflow for encoding width");
}

TEST(Records, ValueAndDeletionShareTheSecretsKey) {
  const crypto::Identity author = testing::identity_of(6);
  const SecretSelectorV1 sel{{"app", "db"}, {{"env", "prod"}}};
  auto value = SecretRecordV1::create_signed(author, sel, SealedPayloadV1{}, 2);
  auto gone = SecretDeletedRecordV1::create_signed(author, sel, 3);
  ASSERT_TRUE(value && gone);
  EXPECT_EQ(value->known_body()->record_key(author.user_id), gone->known_body()->record_key(author.user_id));
  EXPECT_TRUE(crypto::verify_signature(kRecordSignaturePurpose, value->signing_public_key(), value->signed_message(),
                                       value->signature()));
}

// ---- structure test ----

struct Fixture {
  crypto::Identity root = testing::identity_of(10);
  crypto::Identity user = testing::identity_of(11);
  VaultRecordV1 root_record = testing::root_record(root);
  UserId root_id = root.user_id;

  std::string check_body(const RecordBodyV1& body, const VaultRecordV1* record = nullptr) const {
    auto r = check_structure(record ? *record : root_record, body, root_id);
    return r ? "" : r.error().structure_message();
  }
};

IdSeed seed(std::uint8_t b) { return IdSeed{Bytes(16, b)}; }
HashValue seed_hash(std::string_view tag, const IdSeed& s) { return *crypto::domain_hash_cord(tag, s); }

TEST(StructureCheck, EveryRuleAndMessage) {
  const Fixture f;
  const Bytes user_spk = bytes_of(f.user.signing_public_key);
  const Bytes user_hpk = bytes_of(f.user.hpke_public_key);
  const UserHandleId alice = *core::derive_user_handle_id("alice");
  const VaultHandleId vault = *core::derive_vault_handle_id("vault");
  const GroupId group(seed_hash("ostrel.group.v1", seed(1)));
  const GrantId grant(seed_hash("ostrel.grant.v1", seed(2)));
  const PrincipalRefV1 member(f.user.user_id);
  const GroupMemberId gm = *core::derive_group_member_id(GroupMemberIdInputV1{group, member});
  const SecretSelectorV1 sel{{"app"}, {{"a", "1"}, {"b", "2"}}};
  const SecretSelectorV1 unsorted{{"app"}, {{"b", "2"}, {"a", "1"}}};
  const SecretId sid = *core::derive_secret_id(sel);
  const RecipientSlotV1 slot{f.user.user_id, {}, {}};
  const ManageKeyspaceGrantV1 reversed{KeyspaceSelectorV1{tuple_matcher::Any{}, {}},
                                       {KeyspaceGrantClassV1::Write, KeyspaceGrantClassV1::Read}};
  const std::uint64_t ceiling = kCounterCeiling;

  struct Case {
    const char* name;
    RecordBodyV1 body;
    const char* want;
  };
  const Case cases[] = {
      {"root_ok", VaultRootRecordV1{f.root_id, bytes_of(f.root.hpke_public_key)}, ""},
      {"root_wrong_hpke", VaultRootRecordV1{f.root_id, user_hpk}, "invalid root record"},
      {"entry_point_ok", EntryPointRecordV1{f.root_id, Bytes{1, 2}, 1}, ""},
      {"entry_point_other_user", EntryPointRecordV1{f.user.user_id, {}, 1}, "invalid entry point record"},
      {"counter_at_ceiling", EntryPointRecordV1{f.root_id, {}, ceiling}, ""},
      {"counter_over_ceiling_first", EntryPointRecordV1{f.user.user_id, {}, ceiling + 1},
       "counter exceeds the supported ceiling"},
      {"user_ok", UserRecordV1{f.user.user_id, user_spk, user_hpk, 1}, ""},
      {"user_wrong_id", UserRecordV1{f.root_id, user_spk, user_hpk, 1}, "invalid user record"},
      {"handle_ok", UserHandleRecordV1{alice, "alice", f.user.user_id, 1}, ""},
      {"handle_upper", UserHandleRecordV1{alice, "Alice", f.user.user_id, 1}, "invalid user handle"},
      {"handle_space", UserHandleRecordV1{alice, " alice", f.user.user_id, 1}, "invalid user handle"},
      {"handle_wrong_id", UserHandleRecordV1{*core::derive_user_handle_id("bob"), "alice", f.user.user_id, 1},
       "invalid user handle"},
      {"handle_65", UserHandleRecordV1{alice, std::string(65, 'a'), f.user.user_id, 1}, "invalid user handle"},
      {"group_ok", GroupRecordV1{group, seed(1), "ops", 1}, ""},
      {"group_bad_handle", GroupRecordV1{group, seed(1), "Ops", 1}, "invalid group record"},
      {"group_wrong_id", GroupRecordV1{group, seed(9), "ops", 1}, "invalid group record"},
      {"group_deleted", GroupDeletedRecordV1{GroupId(), 5}, ""},
      {"member_ok", GroupMemberRecordV1{gm, group, member, 1}, ""},
      {"member_wrong", GroupMemberRecordV1{gm, group, PrincipalRefV1(GroupId(f.user.user_id.value)), 1},
       "invalid group membership"},
      {"member_deleted_wrong", GroupMemberDeletedRecordV1{GroupMemberId(), group, member, 1},
       "invalid group membership deletion"},
      {"member_deleted_ok", GroupMemberDeletedRecordV1{gm, group, member, 1}, ""},
      {"grant_ok", GrantRecordV1{grant, seed(2), member, grant_permission::Admin{}, 1}, ""},
      {"grant_wrong_id", GrantRecordV1{grant, seed(3), member, grant_permission::Admin{}, 1}, "invalid grant"},
      {"grant_permission_before_id", GrantRecordV1{grant, seed(3), member, reversed, 1},
       "manage grant classes must be sorted and unique"},
      {"grant_deleted_permission_only", GrantDeletedRecordV1{GrantId(), reversed, 1},
       "manage grant classes must be sorted and unique"},
      {"grant_deleted_ok", GrantDeletedRecordV1{GrantId(), grant_permission::Admin{}, 1}, ""},
      {"user_deleted_root", UserDeletedRecordV1{f.root_id, std::nullopt, 1}, "invalid user deletion"},
      {"user_deleted_unknown", UserDeletedRecordV1{UserId(HashValue(Bytes{1})), std::nullopt, 1}, ""},
      {"secret_ok_no_slot", SecretRecordV1{sid, sel, {}, 1}, ""},
      {"secret_unsorted_first", SecretRecordV1{SecretId(), unsorted, {}, 1},
       "secret selector labels must be sorted and unique"},
      {"secret_wrong_id", SecretRecordV1{SecretId(), sel, {}, 1}, "invalid secret value"},
      {"secret_short_id", SecretRecordV1{SecretId(HashValue(Bytes(sid.value.bytes.begin(), sid.value.bytes.end() - 1))),
                                         sel, {}, 1},
       "invalid secret value"},
      {"secret_duplicate_slot", SecretRecordV1{sid, sel, SealedPayloadV1{{}, {}, {slot, slot}}, 1},
       "duplicate recipient slot"},
      {"secret_deleted_ok", SecretDeletedRecordV1{sid, sel, 1}, ""},
      {"secret_deleted_wrong", SecretDeletedRecordV1{SecretId(), sel, 1}, "invalid secret deletion"},
      {"vault_handle_ok", VaultHandleRecordV1{vault, "vault", 1}, ""},
      {"vault_handle_invalid", VaultHandleRecordV1{vault, "Vault", 1}, "invalid vault handle record"},
      {"vault_handle_wrong_id", VaultHandleRecordV1{VaultHandleId(), "vault", 1}, "invalid vault handle record"},
  };
  for (const Case& c : cases) EXPECT_EQ(f.check_body(c.body), c.want) << c.name;

  // The root body judged under another signing key fails.
  const VaultRecordV1 other(f.root_record.body(), user_spk, f.root_record.signature());
  EXPECT_EQ(f.check_body(*f.root_record.known_body(), &other), "invalid root record");
  EXPECT_EQ(to_invalid_structure(CoreError(cord::Error::Overflow)).structure_message(),
            "cord error: Value overflow for encoding width");
}

}  // namespace
}  // namespace ostrel::core
