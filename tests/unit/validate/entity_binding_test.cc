// Bindings read from records refer to the records; remembered ones own their content; both
// compare by content. The flat maps the ratchet view is held in.
#include <gtest/gtest.h>

#include "core/validate/entity_binding.h"
#include "core/validate/flat_map.h"
#include "support/vault_builder.h"

namespace ostrel::validate {
namespace {

using namespace core;

TEST(EntityBinding, FromARecordEqualsTheOwnedBindingAndOutlivesItsHolders) {
  testing::VaultBuilder v(testing::identity_of(1));
  const crypto::Identity alice = testing::identity_of(2);
  const SecretSelectorV1 db{{"app", "db"}, {{"env", "prod"}}};
  const GroupId ops = v.add_group(v.root(), "ops", 3, 1);
  struct Case {
    const char* name;
    VaultRecordV1 record;
    EntityBinding owned;
  };
  std::vector<Case> cases = {
      {"user handle", v.add_user_handle(v.root(), alice, "alice", 1), binding::UserHandle{"alice"}},
      {"vault handle", v.add_vault_handle(v.root(), "vault", 1), binding::VaultHandle{"vault"}},
      {"secret", v.add_secret(alice, db, 1, {alice.user_id}, 1), db},
  };
  v.add_membership(v.root(), ops, PrincipalRefV1(alice.user_id), 1);
  cases.push_back({"membership", v.records().back(), GroupMemberIdInputV1{ops, PrincipalRefV1(alice.user_id)}});
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<EntityBinding> b = EntityBinding::of_body(c.record, *c.record.known_body());
    ASSERT_TRUE(b);
    EXPECT_EQ(b->kind(), c.owned.kind());
    EXPECT_EQ(*b, c.owned);
    c.record = VaultRecordV1();  // the binding alone holds the record now
    EXPECT_EQ(*b, c.owned);
  }
  // Kinds without a binding give none; bindings of different kinds or content differ.
  EXPECT_FALSE(EntityBinding::of_body(v.records().front(), *v.records().front().known_body()));
  EXPECT_NE(EntityBinding(binding::UserHandle{"alice"}), EntityBinding(binding::VaultHandle{"alice"}));
  EXPECT_NE(EntityBinding(binding::UserHandle{"alice"}), EntityBinding(binding::UserHandle{"bob"}));
  EXPECT_NE(EntityBinding(db), EntityBinding(SecretSelectorV1{{"app"}, {}}));
}

TEST(FlatMap, KeepsKeyOrderAndTheFirstOfEqualKeys) {
  FlatMap<int, char> m = {{3, 'c'}, {1, 'a'}, {3, 'x'}, {2, 'b'}};
  ASSERT_EQ(m.size(), 3u);
  std::vector<std::pair<int, char>> seen(m.begin(), m.end());
  EXPECT_EQ(seen, (std::vector<std::pair<int, char>>{{1, 'a'}, {2, 'b'}, {3, 'c'}}));
  EXPECT_FALSE(m.try_emplace(2, 'z').second);
  EXPECT_TRUE(m.try_emplace(0, 'o').second);
  EXPECT_EQ(m.begin()->first, 0);
  EXPECT_TRUE(m.contains(3));
  EXPECT_FALSE(m.contains(4));
  EXPECT_EQ(m.find(4), m.end());
  EXPECT_EQ(m.at(1), 'a');
  EXPECT_THROW(m.at(9), std::out_of_range);
  m.push_back(9, 'n');
  EXPECT_EQ(m.at(9), 'n');
}

}  // namespace
}  // namespace ostrel::validate
