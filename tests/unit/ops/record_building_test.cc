// What a write decides before it commits: who may write, the counter of the new record (never 0,
// above rolled-back counters, capped at 2^62), the records it builds, and the field keys callers
// give (brought to NFC like selectors).
#include <gtest/gtest.h>

#include "core/ids.h"
#include "core/validate/derive.h"
#include "ops/read_secret.h"
#include "ops/write_secret_internal.h"
#include "support/identities.h"
#include "support/secret_text.h"
#include "unit/ops/scene.h"

namespace ostrel::ops::test {
namespace {

using testing::identity_of;

Json one_record(std::uint64_t counter) {
  Json s = with_identities("[]");
  s["records"].push_back(
      {{"kind", "Secret"}, {"selector", {{"tuple", {"x"}}}}, {"value", "v"}, {"counter", counter}});
  return s;
}

TEST(NextRecordCounter, AboveEveryCounterNeverZeroAndCapped) {
  struct Case {
    const char* name;
    Json scenario;
    std::uint64_t want;  // 0: CounterExhausted
  };
  Json rolled_back = team_with_secrets();
  rolled_back["ratchet"] = Json::parse(R"({"derived": true, "counters": [
      {"entity": {"kind": "Secret", "selector": {"tuple": ["app", "db"], "labels": {"env": "prod"}}}, "counter": 40}]})");
  const Case cases[] = {
      {"root_only_vault_gets_one_not_zero", with_identities("[]"), 1},
      {"one_above_the_highest", team_with_secrets(), 3},
      {"above_a_rolled_back_entity", rolled_back, 41},
      {"ceiling_itself_is_accepted", one_record(kMaxRecordCounter - 1), kMaxRecordCounter},
      {"above_the_ceiling_is_refused", one_record(kMaxRecordCounter), 0},
  };
  for (const Case& c : cases) {
    const validate::VaultState state = derive_scenario(c.scenario);
    auto counter = next_record_counter(state);
    if (c.want == 0) {
      ASSERT_FALSE(counter) << c.name;
      EXPECT_EQ(counter.error().kind(), OpsError::CounterExhausted) << c.name;
    } else {
      ASSERT_TRUE(counter) << c.name << ": " << counter.error().message();
      EXPECT_EQ(*counter, c.want) << c.name;
    }
  }
}

TEST(CheckWritable, MemberWithWriteRightsOnly) {
  const validate::VaultState state = derive_scenario(team_with_secrets());
  struct Case {
    const char* name;
    std::uint8_t who;
    core::SecretSelectorV1 selector;
    std::string want;  // empty: writable
  };
  const Case cases[] = {
      {"writer_through_group", 2, kDb, ""},
      {"root_is_admin", 1, core::SecretSelectorV1{{"elsewhere"}, {}}, ""},
      {"reader_cannot_write", 3, kDb, "secret is not writable by this identity"},
      {"writer_outside_its_keyspace", 2, core::SecretSelectorV1{{"web"}, {}}, "secret is not writable by this identity"},
      {"stranger_is_missing", 4, kDb, "writer " + identity_of(4).user_id.debug() + " is missing an active user record"},
  };
  for (const Case& c : cases) {
    auto r = check_writable(state, c.selector, identity_of(c.who));
    EXPECT_EQ(r ? std::string() : r.error().message(), c.want) << c.name;
  }
  validate::VaultState invalid = state;
  invalid.invalid = true;
  auto r = check_writable(invalid, kDb, identity_of(2));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), OpsError::NotWritable);
}

TEST(BuildRecords, ValueAndDeletionJoinTheCandidateSetWithTheNextCounter) {
  auto built = fixture::build_scenario(team_with_secrets());
  ASSERT_TRUE(built);
  const validate::VaultState state = derive_scenario(team_with_secrets());
  const crypto::Identity alice = identity_of(2);
  const SecretId id = *core::derive_secret_id(kDb);
  store::VaultRecords candidate{built->records};

  core::SecretValueV1 value{testing::secret_of("v2"), {}};
  auto written = build_secret_value_record(alice, id, kDb, value, candidate, state);
  ASSERT_TRUE(written) << written.error().message();
  ASSERT_TRUE(written->payload);
  EXPECT_EQ(candidate.size(), built->records.size() + 1);
  const core::VaultRecordV1& added = candidate.items().back();
  EXPECT_EQ(core::record_hash(added), written->record_hash);
  const auto& body = std::get<core::SecretRecordV1>(*added.known_body());
  EXPECT_EQ(body.counter, 3u);
  EXPECT_EQ(body.secret_id, id);
  // Sealed to every reader of app/db: the root, alice and bob.
  EXPECT_EQ(body.payload.recipient_slots.size(), state.readers_of(kDb).size());

  auto deleted = build_secret_deletion_record(alice, id, kDb, candidate, state);
  ASSERT_TRUE(deleted) << deleted.error().message();
  EXPECT_FALSE(deleted->payload);
  EXPECT_EQ(candidate.size(), built->records.size() + 2);
  const auto& gone = std::get<core::SecretDeletedRecordV1>(*candidate.items().back().known_body());
  EXPECT_EQ(gone.counter, 3u);
}

TEST(CallerFieldKey, BroughtToNfcLikeSelectors) {
  EXPECT_EQ(caller_field_key("user"), "user");
  EXPECT_EQ(caller_field_key("Cafe\xcc\x81"), "Caf\xc3\xa9");  // e + combining acute: é
  EXPECT_EQ(caller_field_key("Caf\xc3\xa9"), "Caf\xc3\xa9");
  EXPECT_EQ(caller_field_key("\xff"), "\xff");  // left for the writer to refuse
}

TEST(SecretReadFields, LookupAndCopiesWithoutOneField) {
  core::SecretRead read;
  read.value = testing::secret_of("v");
  read.fields.push_back({"a", testing::secret_of("1")});
  read.fields.push_back({"Caf\xc3\xa9", testing::secret_of("2")});
  ASSERT_NE(read.field("a"), nullptr);
  EXPECT_EQ(testing::text_of(read.field("a")->value), "1");
  EXPECT_EQ(read.field("b"), nullptr);
  EXPECT_EQ(read.field("Cafe\xcc\x81"), nullptr);  // byte for byte
  ASSERT_NE(find_field(read, "Cafe\xcc\x81"), nullptr);  // a caller's key is normalised first
  EXPECT_EQ(find_field(read, "\xff"), nullptr);

  const core::SecretValueV1 without_a = read.without_field("a");
  EXPECT_EQ(testing::text_of(without_a.value), "v");
  ASSERT_EQ(without_a.fields.size(), 1u);
  EXPECT_EQ(without_a.fields.items()[0].key, "Caf\xc3\xa9");
  EXPECT_EQ(read.without_field("absent").fields.size(), 2u);
}

}  // namespace
}  // namespace ostrel::ops::test
