// Keyspace matching and covering, and what a set of rights allows.
#include <gtest/gtest.h>

#include "core/validate/permissions_internal.h"
#include "support/vault_builder.h"

namespace ostrel::validate {
namespace {

using namespace core;
using testing::any_keyspace;
using testing::prefix_keyspace;

SecretSelectorV1 secret(std::vector<cord::Text> path, std::vector<SecretLabelV1> labels = {}) {
  return SecretSelectorV1{std::move(path), std::move(labels)};
}
KeyspaceSelectorV1 exact(std::vector<cord::Text> v) { return KeyspaceSelectorV1{tuple_matcher::Exact{std::move(v)}, {}}; }
KeyspaceSelectorV1 with_label(KeyspaceSelectorV1 k, std::string key, LabelMatcherV1 m) {
  k.labels.push_back(KeyspaceLabelMatcherV1{std::move(key), std::move(m)});
  return k;
}
LabelMatcherV1 in(std::vector<cord::Text> v) { return label_matcher::In{std::move(v)}; }
LabelMatcherV1 eq(std::string v) { return label_matcher::Equals{std::move(v)}; }

TEST(Keyspace, Matching) {
  struct Case {
    const char* name;
    KeyspaceSelectorV1 k;
    SecretSelectorV1 s;
    bool want;
  };
  const KeyspaceSelectorV1 absent_env = with_label(any_keyspace(), "env", label_matcher::Absent{});
  const Case cases[] = {
      {"prefix_equal_path", prefix_keyspace({"a"}), secret({"a"}), true},
      {"prefix_longer_path", prefix_keyspace({"a"}), secret({"a", "b"}), true},
      {"prefix_other", prefix_keyspace({"a"}), secret({"b"}), false},
      {"prefix_shorter_path", prefix_keyspace({"a", "b"}), secret({"a"}), false},
      {"exact_only", exact({"a"}), secret({"a", "b"}), false},
      {"exact_equal", exact({"a"}), secret({"a"}), true},
      {"exact_empty_matches_empty", exact({}), secret({}), true},
      {"exact_empty_not_path", exact({}), secret({"a"}), false},
      {"absent_no_labels", absent_env, secret({"x"}), true},
      {"absent_other_label", absent_env, secret({"x"}, {{"team", "a"}}), true},
      {"absent_present", absent_env, secret({"x"}, {{"env", ""}}), false},
      {"present_needs_label", with_label(any_keyspace(), "env", label_matcher::Present{}), secret({"x"}), false},
      {"equals", with_label(any_keyspace(), "env", eq("prod")), secret({"x"}, {{"env", "prod"}}), true},
      {"equals_other", with_label(any_keyspace(), "env", eq("prod")), secret({"x"}, {{"env", "dev"}}), false},
      {"in_member", with_label(any_keyspace(), "env", in({"dev", "prod"})), secret({"x"}, {{"env", "dev"}}), true},
      {"in_empty_never", with_label(any_keyspace(), "env", in({})), secret({"x"}, {{"env", "dev"}}), false},
      {"unnamed_labels_ignored", any_keyspace(), secret({"x"}, {{"env", "dev"}}), true},
  };
  for (const Case& c : cases) EXPECT_EQ(matches(c.k, c.s), c.want) << c.name;
}

TEST(Keyspace, Covering) {
  struct Case {
    const char* name;
    KeyspaceSelectorV1 c;
    KeyspaceSelectorV1 d;
    bool want;
  };
  const auto env = [](LabelMatcherV1 m) { return with_label(any_keyspace(), "env", std::move(m)); };
  const Case cases[] = {
      {"any_covers_all", any_keyspace(), prefix_keyspace({"a"}), true},
      {"exact_covers_equal_exact", exact({"a"}), exact({"a"}), true},
      {"exact_not_prefix", exact({"a"}), prefix_keyspace({"a"}), false},
      {"exact_not_any", exact({"a"}), any_keyspace(), false},
      {"prefix_covers_longer_prefix", prefix_keyspace({"a"}), prefix_keyspace({"a", "b"}), true},
      {"prefix_covers_exact_inside", prefix_keyspace({"a"}), exact({"a", "c"}), true},
      {"prefix_not_any", prefix_keyspace({"a"}), any_keyspace(), false},
      {"prefix_not_other", prefix_keyspace({"a"}), prefix_keyspace({"b"}), false},
      {"in_covers_equals", env(in({"dev", "prod"})), env(eq("prod")), true},
      {"in_covers_sub_in", env(in({"dev", "prod"})), env(in({"prod"})), true},
      {"in_not_outside", env(in({"dev", "prod"})), env(in({"prod", "qa"})), false},
      {"in_not_present", env(in({"dev"})), env(label_matcher::Present{}), false},
      {"equals_covers_in_same", env(eq("prod")), env(in({"prod"})), true},
      {"equals_not_wider_in", env(eq("prod")), env(in({"dev", "prod"})), false},
      {"present_covers_equals", env(label_matcher::Present{}), env(eq("x")), true},
      {"present_not_absent", env(label_matcher::Present{}), env(label_matcher::Absent{}), false},
      {"absent_covers_absent", env(label_matcher::Absent{}), env(label_matcher::Absent{}), true},
      {"labels_never_cover_none", env(label_matcher::Present{}), any_keyspace(), false},
      {"no_labels_covers_labelled", any_keyspace(), env(eq("x")), true},
      {"unconstrained_key", env(label_matcher::Present{}), with_label(any_keyspace(), "team", eq("a")), false},
  };
  for (const Case& c : cases) EXPECT_EQ(covers(c.c, c.d), c.want) << c.name;
}

TEST(Permissions, FullAndEmpty) {
  const Permissions full = Permissions::full();
  const Permissions none;
  const SecretSelectorV1 s = secret({"any", "thing"}, {{"k", "v"}});
  EXPECT_TRUE(full.can_read(s) && full.can_write(s));
  EXPECT_TRUE(full.may_grant(testing::admin_grant()));
  EXPECT_TRUE(full.may_grant(testing::manage_grant(any_keyspace(), {KeyspaceGrantClassV1::Manage})));
  EXPECT_FALSE(none.can_read(s) || none.can_write(s));
  EXPECT_FALSE(none.may_grant(testing::read_grant(prefix_keyspace({"a"}))));
  EXPECT_FALSE(none.may_grant(testing::admin_grant()));
}

TEST(Permissions, OneWriteManagerOverAPrefix) {
  Permissions p;
  p.add_grant(testing::manage_grant(prefix_keyspace({"a"}), {KeyspaceGrantClassV1::Write}));
  EXPECT_TRUE(p.can_read(secret({"a", "x"})));
  EXPECT_TRUE(p.can_write(secret({"a"})));
  EXPECT_FALSE(p.can_read(secret({"b"})));
  EXPECT_TRUE(p.may_grant(testing::write_grant(prefix_keyspace({"a", "b"}))));
  EXPECT_FALSE(p.may_grant(testing::write_grant(any_keyspace())));
  EXPECT_FALSE(p.may_grant(testing::read_grant(prefix_keyspace({"a"}))));
  EXPECT_FALSE(p.may_grant(testing::manage_grant(prefix_keyspace({"a"}), {KeyspaceGrantClassV1::Write})));
  EXPECT_FALSE(p.may_grant(testing::admin_grant()));
  // Read lists never confer writing.
  Permissions reader;
  reader.add_grant(testing::read_grant(any_keyspace()));
  EXPECT_TRUE(reader.can_read(secret({"a"})));
  EXPECT_FALSE(reader.can_write(secret({"a"})));
}

TEST(Permissions, ManageNeedsOneEntryHoldingEveryClass) {
  const auto rw = testing::manage_grant(prefix_keyspace({"a"}), {KeyspaceGrantClassV1::Read, KeyspaceGrantClassV1::Write});
  Permissions split;
  split.add_grant(testing::manage_grant(any_keyspace(), {KeyspaceGrantClassV1::Read, KeyspaceGrantClassV1::Manage}));
  split.add_grant(testing::manage_grant(any_keyspace(), {KeyspaceGrantClassV1::Write, KeyspaceGrantClassV1::Manage}));
  EXPECT_FALSE(split.may_grant(rw));
  Permissions whole;
  whole.add_grant(testing::manage_grant(
      any_keyspace(), {KeyspaceGrantClassV1::Read, KeyspaceGrantClassV1::Write, KeyspaceGrantClassV1::Manage}));
  EXPECT_TRUE(whole.may_grant(rw));
}

TEST(Permissions, ListsKeepInsertionOrderWithoutRepeats) {
  Permissions a, b;
  a.add_grant(testing::read_grant(prefix_keyspace({"x"})));
  a.add_grant(testing::read_grant(prefix_keyspace({"y"})));
  a.add_grant(testing::read_grant(prefix_keyspace({"x"})));
  b.add_grant(testing::read_grant(prefix_keyspace({"y"})));
  b.add_grant(testing::read_grant(prefix_keyspace({"x"})));
  EXPECT_EQ(a.read.size(), 2u);
  EXPECT_FALSE(a == b);  // same elements, other order
  Permissions c;
  EXPECT_TRUE(c.inherit(a));
  EXPECT_FALSE(c.inherit(a));  // nothing new the second time
  EXPECT_TRUE(c == a);
  Permissions admin;
  admin.admin = true;
  EXPECT_TRUE(c.inherit(admin));
  EXPECT_TRUE(c.admin);
}

TEST(Permissions, UserEntryOnly) {
  AuthorityMap map;
  const UserId u(HashValue(cord::Bytes{1}));
  map[PrincipalRefV1(GroupId(u.value))].admin = true;  // a group with the same id bytes
  EXPECT_FALSE(permissions_of(map, u).admin);
  map[PrincipalRefV1(u)].add_grant(testing::read_grant(any_keyspace()));
  EXPECT_EQ(permissions_of(map, u).read.size(), 1u);
}

}  // namespace
}  // namespace ostrel::validate
