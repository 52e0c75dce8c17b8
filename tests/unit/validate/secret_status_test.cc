// A secret's status for each reader, and sealing to the readers a validated state allows: the
// readers become the slots, each of them can open the value and the state then reports it
// decryptable to them; a reader who joins later is not encrypted for, and a payload that names a
// reader twice is invalid for everyone allowed to read it.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/ids.h"
#include "core/record_sign.h"
#include "core/validate/derive.h"
#include "core/validate/seal_readers.h"
#include "errors/text_form.h"
#include "support/secret_text.h"
#include "support/vault_builder.h"

namespace ostrel::validate {
namespace {

using namespace core;
using testing::identity_of;
using testing::prefix_keyspace;
using testing::VaultBuilder;

// alice writes app/, bob reads app/ himself, dave reads app/ through the group ops, erin reads
// only web/; the stranger is no member. The root may read everything.
struct Scene {
  crypto::Identity root = identity_of(1);
  crypto::Identity alice = identity_of(2);
  crypto::Identity bob = identity_of(3);
  crypto::Identity dave = identity_of(5);
  crypto::Identity erin = identity_of(6);
  crypto::Identity stranger = identity_of(9);
  VaultBuilder v{root};
  SecretSelectorV1 db{{"app", "db"}, {{"env", "prod"}}};

  Scene() {
    for (const crypto::Identity* user : {&alice, &bob, &dave, &erin}) v.add_member(root, *user);
    v.add_grant(root, PrincipalRefV1(alice.user_id), testing::write_grant(prefix_keyspace({"app"})), 1, 1);
    v.add_grant(root, PrincipalRefV1(bob.user_id), testing::read_grant(prefix_keyspace({"app"})), 2, 1);
    const GroupId ops = v.add_group(root, "ops", 7, 1);
    v.add_membership(root, ops, PrincipalRefV1(dave.user_id), 1);
    v.add_grant(root, PrincipalRefV1(ops), testing::read_grant(prefix_keyspace({"app"})), 3, 1);
    v.add_grant(root, PrincipalRefV1(erin.user_id), testing::read_grant(prefix_keyspace({"web"})), 4, 1);
  }

  VaultState derive() const {
    const auto records = v.file_order();
    auto s = derive_state(records, RatchetState::fresh(v.root_identity().key_id), {});
    EXPECT_TRUE(s) << s.error().message();
    return s ? std::move(*s) : VaultState{};
  }

  SecretWriteContext context(const crypto::Identity& writer, std::uint64_t counter) const {
    const SecretId id = *core::derive_secret_id(db);
    return {EntityKey(entity::Secret{id}), Bytes(writer.signing_public_key.begin(), writer.signing_public_key.end()),
            id, db, counter};
  }

  std::vector<UserId> sorted(std::vector<UserId> ids) const {
    std::sort(ids.begin(), ids.end());
    return ids;
  }
};

std::vector<UserId> recipients_of(const SealedPayloadV1& payload) {
  std::vector<UserId> out;
  for (const RecipientSlotV1& slot : payload.recipient_slots) out.push_back(slot.recipient);
  return out;
}

TEST(SealReaders, ReadersTheStateAllowsBecomeTheSlots) {
  Scene sc;
  const VaultState before = sc.derive();
  ASSERT_TRUE(before.issues.empty()) << errors::debug_list(before.issues);
  const std::vector<UserId> want = sc.sorted({sc.root.user_id, sc.alice.user_id, sc.bob.user_id, sc.dave.user_id});

  const SealRecipients to = seal_recipients(before, sc.db);
  EXPECT_EQ(to.root_key_id, before.root_key_id);
  std::vector<UserId> ids;
  for (const SealReader& r : to.readers) {
    ids.push_back(r.user_id);
    ASSERT_TRUE(r.hpke_public_key) << r.user_id.debug();
    const core::UserRecordV1& user = *before.users.at(r.user_id);
    EXPECT_TRUE(std::ranges::equal(*r.hpke_public_key, user.hpke_public_key)) << r.user_id.debug();
  }
  EXPECT_EQ(ids, want);

  // Sealed, signed and added to the vault, the value opens for every one of them and only them.
  const SecretWriteContext ctx = sc.context(sc.alice, 2);
  auto payload = seal_for_state(before, ctx, SecretValueV1{testing::secret_of("hunter2"), {}});
  ASSERT_TRUE(payload) << payload.error().message();
  EXPECT_EQ(recipients_of(*payload), want);
  auto record = SecretRecordV1::create_signed(sc.alice, sc.db, std::move(*payload), ctx.counter);
  ASSERT_TRUE(record);
  sc.v.add_record(std::move(*record), sc.alice.user_id);
  const VaultState after = sc.derive();
  ASSERT_TRUE(after.issues.empty()) << errors::debug_list(after.issues);
  auto entry = after.secret_record(sc.db);
  ASSERT_TRUE(entry && *entry);
  for (const crypto::Identity* who : {&sc.root, &sc.alice, &sc.bob, &sc.dave, &sc.erin, &sc.stranger}) {
    const bool reader = std::ranges::find(want, who->user_id) != want.end();
    EXPECT_EQ(after.secret_status(sc.db, who->user_id),
              reader ? SecretStatus::ActiveDecryptable : SecretStatus::Unauthorized)
        << who->user_id.debug();
    auto read = SealedPayloadV1::open(*who, (*entry)->record, (*entry)->secret(), *after.root_key_id);
    EXPECT_EQ(read.has_value(), reader) << who->user_id.debug();
    if (read) {
      EXPECT_EQ(testing::text_of(read->value), "hunter2");
    }
  }
}

TEST(SealReaders, NothingIsSealedWithoutAnEffectiveRoot) {
  Scene sc;
  VaultState state = sc.derive();
  state.root_key_id.reset();
  auto payload = seal_for_state(state, sc.context(sc.alice, 2), SecretValueV1{testing::secret_of("v"), {}});
  ASSERT_FALSE(payload);
  EXPECT_EQ(payload.error().kind(), OpsError::MissingEffectiveRoot);
}

TEST(SecretStatus, EachReaderOfOnePayload) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> slots;  // identity fill bytes named by the payload
    std::uint8_t reader;
    SecretStatus want;
  };
  const Case cases[] = {
      {"reader with a slot", {2, 3}, 3, SecretStatus::ActiveDecryptable},
      {"reader through a group with a slot", {2, 5}, 5, SecretStatus::ActiveDecryptable},
      {"reader left out of the slots", {2, 3}, 5, SecretStatus::NotEncryptedForReader},
      {"root left out of the slots", {2, 3}, 1, SecretStatus::NotEncryptedForReader},
      {"no slots at all", {}, 2, SecretStatus::NotEncryptedForReader},
      {"reader of another path with a slot", {2, 6}, 6, SecretStatus::Unauthorized},
      {"no member", {2, 3}, 9, SecretStatus::Unauthorized},
  };
  for (const Case& c : cases) {
    Scene sc;
    std::vector<UserId> slots;
    for (std::uint8_t fill : c.slots) slots.push_back(identity_of(fill).user_id);
    sc.v.add_secret(sc.alice, sc.db, 2, sc.sorted(slots));
    const VaultState s = sc.derive();
    EXPECT_TRUE(s.issues.empty()) << c.name << ": " << errors::debug_list(s.issues);
    const SecretStatus got = s.secret_status(sc.db, identity_of(c.reader).user_id);
    EXPECT_EQ(got, c.want) << c.name << ": got " << to_string(got);
  }
}

// The record checks refuse a payload that names a reader twice, so no derivation makes such a
// record current; the status still says Invalid for a state whose index holds one.
TEST(SecretStatus, PayloadNamingAReaderTwiceIsInvalid) {
  Scene sc;
  VaultState s = sc.derive();
  VaultBuilder other{sc.root};
  const VaultRecordV1& twice =
      other.add_secret(sc.alice, sc.db, 2, {sc.alice.user_id, sc.bob.user_id, sc.bob.user_id});
  std::vector<EffectiveRecord> records = s.records;
  records.push_back(EffectiveRecord{EntityKey(entity::Secret{*core::derive_secret_id(sc.db)}), twice, record_hash(twice),
                                    sc.alice.user_id});
  s.build_secret_index(std::move(records), 2);
  struct Case {
    const char* name;
    const crypto::Identity& reader;
    SecretStatus want;
  };
  const Case cases[] = {
      {"the reader named twice", sc.bob, SecretStatus::Invalid},
      {"another reader with a slot", sc.alice, SecretStatus::Invalid},
      {"a reader without a slot", sc.dave, SecretStatus::Invalid},
      {"a reader of another path", sc.erin, SecretStatus::Unauthorized},
      {"no member", sc.stranger, SecretStatus::Unauthorized},
  };
  for (const Case& c : cases) {
    const SecretStatus got = s.secret_status(sc.db, c.reader.user_id);
    EXPECT_EQ(got, c.want) << c.name << ": got " << to_string(got);
  }

  // Derived from the file, the record is refused and the secret has no value.
  sc.v.add_record(twice, sc.alice.user_id);
  const VaultState derived = sc.derive();
  EXPECT_EQ(errors::debug_list(derived.issues), R"([InvalidStructure("duplicate recipient slot")])");
  EXPECT_EQ(derived.secret_status(sc.db, sc.bob.user_id), SecretStatus::Missing);
}

TEST(SecretStatus, InvalidStateOrSelectorIsInvalidForEveryone) {
  Scene sc;
  sc.v.add_secret(sc.alice, sc.db, 2, sc.sorted({sc.alice.user_id, sc.bob.user_id}));
  RatchetState later = RatchetState::fresh(sc.v.root_identity().key_id);
  later.format_version = 2;
  const auto records = sc.v.file_order();
  auto regressed = derive_state(records, later, {});
  ASSERT_TRUE(regressed) << regressed.error().message();
  ASSERT_TRUE(regressed->invalid);
  const VaultState s = sc.derive();
  const SecretSelectorV1 not_text{{"app", "\xff"}, {}};
  for (const crypto::Identity* who : {&sc.alice, &sc.bob, &sc.stranger}) {
    EXPECT_EQ(regressed->secret_status(sc.db, who->user_id), SecretStatus::Invalid) << who->user_id.debug();
    EXPECT_EQ(s.secret_status(not_text, who->user_id), SecretStatus::Invalid) << who->user_id.debug();
  }
}

TEST(SecretStatus, ReaderWhoJoinsAfterTheValueWasSealedIsNotEncryptedFor) {
  Scene sc;
  const VaultState before = sc.derive();
  auto payload = seal_for_state(before, sc.context(sc.alice, 2), SecretValueV1{testing::secret_of("v"), {}});
  ASSERT_TRUE(payload) << payload.error().message();
  auto record = SecretRecordV1::create_signed(sc.alice, sc.db, std::move(*payload), 2);
  ASSERT_TRUE(record);
  sc.v.add_record(std::move(*record), sc.alice.user_id);
  sc.v.add_grant(sc.root, PrincipalRefV1(sc.erin.user_id), testing::read_grant(prefix_keyspace({"app"})), 5, 3);

  const VaultState after = sc.derive();
  EXPECT_EQ(after.secret_status(sc.db, sc.erin.user_id), SecretStatus::NotEncryptedForReader);
  EXPECT_EQ(after.secret_status(sc.db, sc.bob.user_id), SecretStatus::ActiveDecryptable);
  // Sealing again for the state as it now stands takes the new reader in.
  const std::vector<UserId> readers = recipients_of(*seal_for_state(after, sc.context(sc.alice, 4),
                                                                    SecretValueV1{testing::secret_of("v"), {}}));
  EXPECT_NE(std::ranges::find(readers, sc.erin.user_id), readers.end());
}

}  // namespace
}  // namespace ostrel::validate
