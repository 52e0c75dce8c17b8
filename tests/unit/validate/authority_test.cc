// The authority fixpoint and pass: rights flowing from the root through grants, groups and
// delegation chains, conflicts, handles, and the admission of deletions.
#include <gtest/gtest.h>

#include "core/ids.h"
#include "core/validate/authority_internal.h"
#include "support/vault_builder.h"

namespace ostrel::validate {
namespace {

using namespace core;
using testing::any_keyspace;
using testing::identity_of;
using testing::prefix_keyspace;
using testing::VaultBuilder;

VaultState pass(const VaultBuilder& v, const RolledBackMap& rolled_back = {}) {
  const auto records = v.effective();
  return authority_pass(v.root_identity(), records, rolled_back).state;
}

struct People {
  crypto::Identity root = identity_of(1);
  crypto::Identity alice = identity_of(2);
  crypto::Identity bob = identity_of(3);
  crypto::Identity carol = identity_of(4);
};

TEST(Authority, RootAloneSettlesWithFullRights) {
  const People p;
  const VaultBuilder v(p.root);
  const VaultState s = pass(v);
  EXPECT_FALSE(s.invalid);
  ASSERT_EQ(s.users.size(), 1u);
  EXPECT_EQ(s.users.at(p.root.user_id)->counter, 0u);
  ASSERT_EQ(s.authority.size(), 1u);
  EXPECT_TRUE(s.authority.begin()->second == Permissions::full());
  EXPECT_TRUE(s.unresolved.empty());
}

TEST(Authority, UsersNeedAnAdminSignerAndAnEntryPoint) {
  const People p;
  VaultBuilder v(p.root);
  v.add_member(p.root, p.alice);             // admitted: root is admin
  v.add_user(p.root, p.bob, 1);              // no entry point: not a user
  v.add_member(p.alice, p.carol);            // alice is not admin
  v.add(p.root, RecordBodyV1(UserRecordV1{p.root.user_id, {}, {}, 9}));  // the root's own id is ignored
  const VaultState s = pass(v);
  EXPECT_TRUE(s.users.contains(p.alice.user_id));
  EXPECT_FALSE(s.users.contains(p.bob.user_id));
  EXPECT_FALSE(s.users.contains(p.carol.user_id));
  EXPECT_EQ(s.users.at(p.root.user_id)->counter, 0u);
  EXPECT_TRUE(s.entry_points.contains(p.alice.user_id));
  EXPECT_FALSE(s.entry_points.contains(p.carol.user_id));
}

TEST(Authority, NestedGroupsPassRightsDown) {
  const People p;
  VaultBuilder v(p.root);
  v.add_member(p.root, p.alice);
  const GroupId g = v.add_group(p.root, "inner", 1, 1);
  const GroupId h = v.add_group(p.root, "outer", 2, 1);
  v.add_membership(p.root, g, PrincipalRefV1(p.alice.user_id), 1);
  v.add_membership(p.root, h, PrincipalRefV1(g), 1);
  v.add_grant(p.root, PrincipalRefV1(h), testing::read_grant(prefix_keyspace({"shared"})), 1, 1);
  const VaultState s = pass(v);
  const Permissions alice = s.permissions_of(p.alice.user_id);
  EXPECT_TRUE(alice.can_read(SecretSelectorV1{{"shared", "x"}, {}}));
  EXPECT_FALSE(alice.can_write(SecretSelectorV1{{"shared", "x"}, {}}));
  EXPECT_FALSE(alice.can_read(SecretSelectorV1{{"other"}, {}}));
}

TEST(Authority, ManagersGrantWithinTheirKeyspace) {
  const People p;
  VaultBuilder v(p.root);
  v.add_member(p.root, p.alice);
  v.add_member(p.root, p.bob);
  v.add_grant(p.root, PrincipalRefV1(p.alice.user_id),
              testing::manage_grant(prefix_keyspace({"team"}), {KeyspaceGrantClassV1::Read}), 1, 1);
  v.add_grant(p.alice, PrincipalRefV1(p.bob.user_id), testing::read_grant(prefix_keyspace({"team", "db"})), 2, 2);
  v.add_grant(p.alice, PrincipalRefV1(p.bob.user_id), testing::write_grant(prefix_keyspace({"team"})), 3, 2);
  v.add_grant(p.alice, PrincipalRefV1(p.bob.user_id), testing::read_grant(prefix_keyspace({"elsewhere"})), 4, 2);
  const VaultState s = pass(v);
  EXPECT_EQ(s.grants.size(), 2u);  // the manage grant and the read inside it
  EXPECT_TRUE(s.permissions_of(p.bob.user_id).can_read(SecretSelectorV1{{"team", "db"}, {}}));
  EXPECT_FALSE(s.permissions_of(p.bob.user_id).can_write(SecretSelectorV1{{"team", "db"}, {}}));
}

// A chain root → u1 → u2 … of admin grants gains one link per round.
VaultBuilder admin_chain(const crypto::Identity& root, int links) {
  VaultBuilder v(root);
  std::vector<crypto::Identity> users;
  for (int i = 0; i < links; ++i) {
    users.push_back(identity_of(static_cast<std::uint8_t>(100 + i)));
    v.add_member(root, users.back());
  }
  v.add_grant(root, PrincipalRefV1(users[0].user_id), testing::admin_grant(), 0, 1);
  for (int i = 1; i < links; ++i) {
    v.add_grant(users[i - 1], PrincipalRefV1(users[i].user_id), testing::admin_grant(), static_cast<std::uint8_t>(i), 1);
  }
  return v;
}

TEST(Authority, DelegationChainsSettleWithin64Rounds) {
  const People p;
  const VaultState ok = pass(admin_chain(p.root, 63));
  EXPECT_FALSE(ok.invalid);
  EXPECT_EQ(ok.grants.size(), 63u);
  const VaultState too_long = pass(admin_chain(p.root, 64));
  EXPECT_TRUE(too_long.invalid);
  EXPECT_EQ(too_long.grants.size(), 64u);  // the 64th round's result is kept
}

TEST(Authority, EqualCountersConflictUnlessBodiesAgree) {
  const People p;
  VaultBuilder v(p.root);
  v.add_member(p.root, p.alice);
  v.add_member(p.root, p.bob);
  v.add_grant(p.root, PrincipalRefV1(p.bob.user_id), testing::admin_grant(), 1, 1);
  // The same user body signed by two admins: no conflict.
  v.add_user(p.bob, p.alice, 1);
  // Two different bodies for carol's id at one counter: a conflict.
  v.add_user(p.root, p.carol, 5);
  v.add(p.root, RecordBodyV1(UserRecordV1{p.carol.user_id, {1}, {2}, 5}));
  v.add_entry_point(p.carol, 1);
  // Handles: equal bodies twice resolve; different bodies at one counter conflict.
  v.add_user_handle(p.root, p.alice, "alice", 1);
  v.add_user_handle(p.bob, p.alice, "alice", 1);
  v.add_user_handle(p.root, p.alice, "shared", 2);
  v.add_user_handle(p.root, p.bob, "shared", 2);
  const VaultState s = pass(v);
  EXPECT_TRUE(s.users.contains(p.alice.user_id));
  EXPECT_FALSE(s.users.contains(p.carol.user_id));
  const EntityKey carol_key = entity::User{p.carol.user_id};
  ASSERT_TRUE(s.unresolved.contains(carol_key));
  EXPECT_EQ(s.unresolved.at(carol_key).counter, 5u);
  EXPECT_EQ(s.unresolved.at(carol_key).candidates.size(), 2u);
  EXPECT_FALSE(s.unresolved.at(carol_key).rolled_back_from.has_value());
  EXPECT_TRUE(s.user_handles.contains(*core::derive_user_handle_id("alice")));
  EXPECT_TRUE(s.unresolved.contains(EntityKey(entity::UserHandle{*core::derive_user_handle_id("shared")})));
  // Candidates are in encoding order.
  const auto& c = s.unresolved.at(carol_key).candidates;
  EXPECT_TRUE(cord::bytes_less(c[0].encoding(), c[1].encoding()));
}

TEST(Authority, DeletionsAreAdmittedByTheirSignersRights) {
  const People p;
  VaultBuilder v(p.root);
  v.add_member(p.root, p.alice);
  v.add_member(p.root, p.bob);
  v.add_member(p.root, p.carol);
  const GroupId g = v.add_group(p.root, "ops", 1, 1);
  const GrantId read_any = v.add_grant(p.root, PrincipalRefV1(p.carol.user_id), testing::read_grant(any_keyspace()), 1, 1);
  v.add_grant(p.root, PrincipalRefV1(p.alice.user_id),
              testing::manage_grant(prefix_keyspace({"a"}), {KeyspaceGrantClassV1::Read}), 2, 1);
  // A non-admin deleting a user and a group: refused.
  v.delete_user(p.bob, p.carol.user_id, 2);
  v.delete_group(p.bob, g, 2);
  // Alice may grant read inside "a" but not over everything: her deletion of the read-any grant
  // states a permission she may grant, but the grant it names is wider.
  v.delete_grant(p.alice, read_any, testing::read_grant(prefix_keyspace({"a"})), 2);
  VaultState s = pass(v);
  EXPECT_TRUE(s.users.contains(p.carol.user_id));
  EXPECT_TRUE(s.groups.contains(g));
  EXPECT_TRUE(s.grants.contains(read_any));
  // The root's deletions are admitted.
  v.delete_user(p.root, p.carol.user_id, 3);
  v.delete_group(p.root, g, 3);
  v.delete_grant(p.root, read_any, testing::read_grant(any_keyspace()), 3);
  s = pass(v);
  EXPECT_FALSE(s.users.contains(p.carol.user_id));
  EXPECT_TRUE(s.deleted_users.contains(p.carol.user_id));
  EXPECT_TRUE(s.deleted_groups.contains(g));
  EXPECT_TRUE(s.deleted_grants.contains(read_any));
}

TEST(Authority, DeletionOfAMissingGrantNeedsOnlyItsOwnPermission) {
  const People p;
  VaultBuilder v(p.root);
  v.add_member(p.root, p.alice);
  v.add_grant(p.root, PrincipalRefV1(p.alice.user_id),
              testing::manage_grant(prefix_keyspace({"a"}), {KeyspaceGrantClassV1::Read}), 1, 1);
  const GrantId ghost(HashValue(cord::Bytes(32, 0xee)));
  v.delete_grant(p.alice, ghost, testing::read_grant(prefix_keyspace({"a"})), 2);
  EXPECT_TRUE(pass(v).deleted_grants.contains(ghost));
}

TEST(Authority, MutualDeletionsAdmitTheEarlierFirst) {
  const People p;
  VaultBuilder v(p.root);
  v.add_member(p.root, p.alice);
  v.add_member(p.root, p.bob);
  v.add_grant(p.root, PrincipalRefV1(p.alice.user_id), testing::admin_grant(), 1, 1);
  v.add_grant(p.root, PrincipalRefV1(p.bob.user_id), testing::admin_grant(), 2, 1);
  v.delete_user(p.alice, p.bob.user_id, 5);  // lower counter: considered first
  v.delete_user(p.bob, p.alice.user_id, 6);  // bob is gone by then
  // Deleting the root is admitted but never removes it.
  v.delete_user(p.alice, p.root.user_id, 7);
  const VaultState s = pass(v);
  EXPECT_FALSE(s.users.contains(p.bob.user_id));
  EXPECT_TRUE(s.users.contains(p.alice.user_id));
  EXPECT_TRUE(s.users.contains(p.root.user_id));
  EXPECT_TRUE(s.permissions_of(p.root.user_id) == Permissions::full());
}

TEST(Authority, RolledBackEntitiesTakeNoPart) {
  const People p;
  VaultBuilder v(p.root);
  v.add_member(p.root, p.alice);
  const RolledBackMap rolled{{EntityKey(entity::EntryPoint{p.alice.user_id}), 9}};
  const VaultState s = pass(v, rolled);
  EXPECT_FALSE(s.users.contains(p.alice.user_id));
  const auto records = v.effective();
  EXPECT_FALSE(entry_point_users(records, rolled).contains(p.alice.user_id));
  EXPECT_TRUE(entry_point_signers(records).contains(p.alice.user_id));
}

TEST(Authority, IndexSets) {
  const People p;
  VaultBuilder v(p.root);
  v.add_member(p.root, p.alice);
  v.add_entry_point(p.alice, 2);  // a second entry point of the same user
  const auto records = v.effective();
  EXPECT_EQ(entry_point_users(records, {}).size(), 1u);
  EXPECT_EQ(record_hash_set(records).size(), records.size());
  EXPECT_TRUE(record_hash_set({}).empty());
  EXPECT_TRUE(sort_record_refs(records).empty());
}

}  // namespace
}  // namespace ostrel::validate
