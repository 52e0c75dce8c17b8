// Reading secrets through a session opened on real files: every way a read fails, fields in key
// order, and a read that does not see another process's change until the session refreshes.
#include <gtest/gtest.h>

#include "ops/read_secret.h"
#include "ops/write_secret.h"
#include "support/secret_text.h"
#include "unit/ops/scene.h"

namespace ostrel::ops::test {
namespace {

// The team vault with secrets, carol a member without rights, a deleted secret, a conflicted
// one (two records at one counter by different writers) and one sealed to alice alone.
Json read_scene() {
  Json s = team_with_secrets();
  for (const char* r : {
           R"({"kind": "User", "user": "carol", "counter": 1})",
           R"({"kind": "EntryPoint", "signer": "carol", "counter": 1})",
           R"({"kind": "Secret", "signer": "alice", "counter": 2, "selector": {"tuple": ["app", "gone"]}, "value": "x"})",
           R"({"kind": "SecretDeleted", "signer": "alice", "counter": 3, "selector": {"tuple": ["app", "gone"]}})",
           R"({"kind": "Secret", "signer": "alice", "counter": 3, "selector": {"tuple": ["app", "split"]}, "value": "a"})",
           R"({"kind": "Secret", "signer": "root", "counter": 3, "selector": {"tuple": ["app", "split"]}, "value": "b"})",
       }) {
    s["records"].push_back(Json::parse(r));
  }
  s["ratchet"] = "derived";
  return s;
}

TEST(ReadSecret, OutcomesByStatus) {
  OpsWorkspace ws;
  ws.write(read_scene());
  VaultSession bob = must_open(ws.paths(), 3);
  VaultSession carol = must_open(ws.paths(), 4);
  struct Case {
    const char* name;
    const VaultSession& who;
    core::SecretSelectorV1 selector;
    std::string want;  // the value, or the error's message
  };
  const Case cases[] = {
      {"readable", bob, kDb, "hunter2"},
      {"missing", bob, core::SecretSelectorV1{{"app", "none"}, {}}, "secret is missing"},
      {"deleted", bob, core::SecretSelectorV1{{"app", "gone"}, {}}, "secret is missing"},
      {"conflicted", bob, core::SecretSelectorV1{{"app", "split"}, {}},
       "secret is conflicted and has no current value until the conflict is resolved"},
      {"not_sealed_to_reader", bob, kApi, "secret is not decryptable for this identity: NotEncryptedForReader"},
      {"unauthorized", carol, kDb, "secret is not decryptable for this identity: Unauthorized"},
  };
  for (const Case& c : cases) {
    auto read = read_secret(c.who, c.selector);
    EXPECT_EQ(read ? testing::text_of(read->value) : read.error().message(), c.want) << c.name;
  }
}

TEST(ReadSecret, FieldsInKeyOrderAndStateAsOpened) {
  OpsWorkspace ws;
  ws.write(read_scene());
  VaultSession alice = must_open(ws.paths(), 2);
  auto read = read_secret(alice, kDb);
  ASSERT_TRUE(read) << read.error().message();
  EXPECT_EQ(read->selector, kDb);
  ASSERT_EQ(read->fields.size(), 2u);
  EXPECT_EQ(read->fields[0].key, "host");
  EXPECT_EQ(read->fields[1].key, "user");
  EXPECT_EQ(testing::text_of(read->fields[1].value), "admin");

  // Another writer changes the file: this session reads what it opened until it writes.
  VaultSession other = must_open(ws.paths(), 2);
  ASSERT_TRUE(set_secret(other, kDb, testing::bytes("new")));
  auto again = read_secret(alice, kDb);
  ASSERT_TRUE(again);
  EXPECT_EQ(testing::text_of(again->value), "hunter2");
}

}  // namespace
}  // namespace ostrel::ops::test
