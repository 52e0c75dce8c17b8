// Trust from an invitation: the baseline seeds a ratchet only for a vault not rolled back past
// it, without validation issues, that counts the invited identity as a member (checked in that
// order), and the seeded ratchet remembers the vault's counters.
#include <gtest/gtest.h>

#include "core/ids.h"
#include "ops/trust.h"
#include "support/identities.h"
#include "unit/ops/scene.h"

namespace ostrel::ops::test {
namespace {

using testing::identity_of;

TEST(SeedFromBaseline, ChecksInOrderAndRemembersTheVault) {
  const Json team = team_with_secrets();
  Json invalid = team;  // a record signed by a key the vault does not know
  invalid["records"].push_back(Json::parse(R"({"kind": "Secret", "signer": "carol", "counter": 3,
      "selector": {"tuple": ["app", "x"]}, "value": "v", "readers": ["carol"]})"));
  struct Case {
    const char* name;
    const Json& scenario;
    fixture::InviteOptions options;
    std::string want;  // empty: seeded
  };
  const std::string carol = identity_of(4).user_id.debug();
  const Case cases[] = {
      {"full_baseline", team, {.identity = "bob"}, ""},
      {"empty_baseline", team, {.identity = "bob", .baseline = "empty"}, ""},
      {"rolled_back_past_baseline", team, {.identity = "bob", .baseline = kDbAt5},
       "the vault has been rolled back past the invite baseline"},
      {"rollback_reported_before_issues", invalid, {.identity = "bob", .baseline = kDbAt5},
       "the vault has been rolled back past the invite baseline"},
      {"issues_before_membership", invalid, {.identity = "carol", .baseline = "empty"}, "validation failed: ["},
      {"not_a_member", team, {.identity = "carol"},
       "claimed identity " + carol + " is not a current member of this vault"},
  };
  for (const Case& c : cases) {
    auto built = fixture::build_scenario(c.scenario);
    ASSERT_TRUE(built) << c.name;
    const core::Invite invite = invite_for(c.scenario, c.options);
    const crypto::Identity invited = testing::identity_from_seed(invite.seed().span());
    auto seeded = trust::seed_from_baseline(built->records, built->root_key_id, invite.baseline()->records,
                                            invited.user_id);
    if (c.want.empty()) {
      ASSERT_TRUE(seeded) << c.name << ": " << seeded.error().message();
      EXPECT_EQ(seeded->trusted_root, built->root_key_id) << c.name;
      const core::EntityKey db(core::entity::Secret{*core::derive_secret_id(kDb)});
      EXPECT_EQ(seeded->counters.at(db), 2u) << c.name;
      EXPECT_EQ(seeded->format_version, 1u) << c.name;
    } else {
      ASSERT_FALSE(seeded) << c.name;
      EXPECT_EQ(seeded.error().message().substr(0, c.want.size()), c.want) << c.name;
    }
  }
}

}  // namespace
}  // namespace ostrel::ops::test
