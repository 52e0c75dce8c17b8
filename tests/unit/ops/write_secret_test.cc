// Writing secrets through sessions on real files: a write is read back at once and after
// reopening, builds on what another writer committed meanwhile, is refused (files unchanged) when
// the writer's right was withdrawn meanwhile or the counter is exhausted, and never carries
// counter 0. Field edits build on the refreshed secret, so no field is lost.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "core/ids.h"
#include "ops/list_secrets.h"
#include "ops/read_secret.h"
#include "ops/write_secret.h"
#include "store/ratchet_file.h"
#include "support/secret_text.h"
#include "support/state_diff.h"
#include "unit/ops/scene.h"

namespace ostrel::ops::test {
namespace {

using testing::bytes;

std::string value_of(const VaultSession& s, const core::SecretSelectorV1& selector) {
  auto read = read_secret(s, selector);
  return read ? testing::text_of(read->value) : read.error().message();
}

std::vector<std::string> field_keys(const VaultSession& s, const core::SecretSelectorV1& selector) {
  std::vector<std::string> out;
  if (auto read = read_secret(s, selector)) {
    for (const auto& f : read->fields) out.push_back(f.key);
  }
  return out;
}

Json team(Json extra = Json::object()) {
  Json s = with_identities(fixture::test::kTeamRecords, std::move(extra));
  s["ratchet"] = "derived";
  return s;
}

const core::SecretSelectorV1 kNew{{"app", "new"}, {}};

TEST(WriteSecret, ReadBackAtOnceAndAfterReopening) {
  OpsWorkspace ws;
  ws.write(team());
  {
    VaultSession alice = must_open(ws.paths(), 2);
    auto w = set_secret(alice, kNew, bytes("v1"));
    ASSERT_TRUE(w) << w.error().message();
    EXPECT_EQ(w->secret_id, *core::derive_secret_id(kNew));
    EXPECT_TRUE(w->payload);
    EXPECT_EQ(value_of(alice, kNew), "v1");
    EXPECT_FALSE(alice.open.pending);
  }
  VaultSession bob = must_open(ws.paths(), 3);
  EXPECT_EQ(value_of(bob, kNew), "v1");

  // set discards fields; delete leaves the secret missing.
  VaultSession alice = must_open(ws.paths(), 2);
  ASSERT_EQ(set_secret_field(alice, kNew, "k", bytes("f")).value_or(FieldEdit::NoSuchField), FieldEdit::Written);
  EXPECT_EQ(field_keys(alice, kNew), std::vector<std::string>{"k"});
  ASSERT_TRUE(set_secret(alice, kNew, bytes("v2")));
  EXPECT_TRUE(field_keys(alice, kNew).empty());
  auto deleted = delete_secret(alice, kNew);
  ASSERT_TRUE(deleted) << deleted.error().message();
  EXPECT_FALSE(deleted->payload);
  EXPECT_EQ(value_of(alice, kNew), "secret is missing");
  EXPECT_EQ(value_of(must_open(ws.paths(), 3), kNew), "secret is missing");

  // A secret that never existed gets a deletion record all the same.
  const core::SecretSelectorV1 never{{"app", "never"}, {}};
  auto gone = delete_secret(alice, never);
  ASSERT_TRUE(gone) << gone.error().message();
  const auto* record = alice.state().current_secret_record(gone->secret_id);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->body().kind(), core::RecordBodyV1::SecretDeleted);
  EXPECT_EQ(value_of(alice, never), "secret is missing");
}

TEST(WriteSecret, BuildsOnWhatAnotherWriterCommitted) {
  OpsWorkspace ws;
  ws.write(team());
  VaultSession early = must_open(ws.paths(), 2);  // opened before the other write
  VaultSession other = must_open(ws.paths(), 2);
  const core::SecretSelectorV1 theirs{{"app", "theirs"}, {}};
  ASSERT_TRUE(set_secret(other, theirs, bytes("t")));

  auto w = set_secret(early, kNew, bytes("mine"));
  ASSERT_TRUE(w) << w.error().message();
  EXPECT_EQ(value_of(early, theirs), "t");  // the refresh took the other write in
  VaultSession reopened = must_open(ws.paths(), 3);
  EXPECT_EQ(value_of(reopened, theirs), "t");
  EXPECT_EQ(value_of(reopened, kNew), "mine");
  // The new record's counter is above the other writer's.
  const auto* mine = reopened.state().current_secret_record(*core::derive_secret_id(kNew));
  const auto* other_record = reopened.state().current_secret_record(*core::derive_secret_id(theirs));
  ASSERT_TRUE(mine && other_record);
  EXPECT_GT(mine->body().counter(), other_record->body().counter());
}

TEST(WriteSecret, RightWithdrawnMeanwhileIsNotEffectiveAndWritesNothing) {
  OpsWorkspace ws;
  ws.write(team());
  VaultSession setter = must_open(ws.paths(), 2);
  VaultSession deleter = must_open(ws.paths(), 2);
  // The root takes alice out of the group that lets her write, in a file written after she
  // opened the vault.
  Json withdrawn = team();
  withdrawn["records"].push_back(
      Json::parse(R"({"kind": "GroupMemberDeleted", "group": "ops", "member": {"user": "alice"}, "counter": 2})"));
  withdrawn.erase("ratchet");
  ws.write(withdrawn);
  const auto vault_before = file_bytes(ws.paths().vault_file);
  const auto ratchet_before = file_bytes(ws.ratchet_file(scenario_root()));

  for (bool deletion : {false, true}) {
    auto w = deletion ? delete_secret(deleter, kDb) : set_secret(setter, kNew, bytes("v"));
    ASSERT_FALSE(w);
    EXPECT_EQ(w.error().message(), std::string("operation did not become effective: ") +
                                       (deletion ? "secret deletion did not take effect"
                                                 : "secret value did not take effect"));
  }
  EXPECT_EQ(file_bytes(ws.paths().vault_file), vault_before);
  EXPECT_EQ(file_bytes(ws.ratchet_file(scenario_root())), ratchet_before);
  EXPECT_FALSE(std::filesystem::exists(ws.paths().transaction_path(scenario_root().bytes)));
  // The failed write kept the refreshed state, in which alice may no longer write.
  EXPECT_EQ(set_secret(setter, kNew, bytes("v")).error().message(), "secret is not writable by this identity");
}

// A write raises the session's ratchet in place; one that fails takes every raise back, so the
// session keeps the ratchet its refresh loaded, as the files on disk hold it.
TEST(WriteSecret, AFailedWriteLeavesTheSessionsRatchetAsRefreshed) {
  OpsWorkspace ws;
  ws.write(team());
  VaultSession setter = must_open(ws.paths(), 2);
  Json withdrawn = team();
  withdrawn["records"].push_back(
      Json::parse(R"({"kind": "GroupMemberDeleted", "group": "ops", "member": {"user": "alice"}, "counter": 2})"));
  withdrawn.erase("ratchet");
  ws.write(withdrawn);
  ASSERT_FALSE(set_secret(setter, kNew, bytes("v")));
  auto on_disk = store::load_ratchet(ws.paths(), scenario_root());
  ASSERT_TRUE(on_disk && *on_disk);
  EXPECT_TRUE(setter.open.ratchet == **on_disk);
  EXPECT_FALSE(setter.state().ratchet.counters.empty());  // the refreshed state did raise it
}

TEST(WriteSecret, CounterCeilingAndNeverZero) {
  OpsWorkspace ws;
  Json high = team();
  high["records"].push_back(Json::parse(R"({"kind": "Secret", "signer": "alice", "selector": {"tuple": ["app", "hi"]},
      "value": "v", "counter": 4611686018427387903})"));
  ws.write(high);
  VaultSession alice = must_open(ws.paths(), 2);
  auto at_ceiling = set_secret(alice, kNew, bytes("v"));
  ASSERT_TRUE(at_ceiling) << at_ceiling.error().message();
  EXPECT_EQ(alice.state().current_secret_record(at_ceiling->secret_id)->body().counter(), kMaxRecordCounter);

  const auto vault_before = file_bytes(ws.paths().vault_file);
  auto above = set_secret(alice, kNew, bytes("w"));
  ASSERT_FALSE(above);
  EXPECT_EQ(above.error().kind(), OpsError::CounterExhausted);
  EXPECT_EQ(file_bytes(ws.paths().vault_file), vault_before);

  // A vault with nothing counted yet: the first record gets 1, which the ratchet then remembers.
  OpsWorkspace bare;
  Json root_only = with_identities("[]");
  root_only["ratchet"] = "derived";
  bare.write(root_only);
  VaultSession root = must_open(bare.paths(), 1);
  auto first = set_secret(root, kNew, bytes("v"));
  ASSERT_TRUE(first) << first.error().message();
  const core::EntityKey key(core::entity::Secret{first->secret_id});
  EXPECT_EQ(root.state().current_secret_record(first->secret_id)->body().counter(), 1u);
  EXPECT_EQ(must_open(bare.paths(), 1).open.ratchet.counters.at(key), 1u);
}

TEST(WriteSecret, RolledBackSecretIsWrittenAboveTheRememberedCounter) {
  OpsWorkspace ws;
  Json rolled_back = team_with_secrets();
  rolled_back["ratchet"] = Json::parse(R"({"derived": true, "counters": [{"entity": {"kind": "Secret",
      "selector": {"tuple": ["app", "db"], "labels": {"env": "prod"}}}, "counter": 40}]})");
  ws.write(rolled_back);
  VaultSession alice = must_open(ws.paths(), 2);
  EXPECT_EQ(value_of(alice, kDb), "secret is conflicted and has no current value until the conflict is resolved");
  auto w = set_secret(alice, kDb, bytes("restored"));
  ASSERT_TRUE(w) << w.error().message();
  EXPECT_EQ(alice.state().current_secret_record(w->secret_id)->body().counter(), 41u);
  EXPECT_EQ(value_of(must_open(ws.paths(), 3), kDb), "restored");
}

TEST(WriteSecret, VaultOfAnotherRootIsRefused) {
  OpsWorkspace ws;
  ws.write(team());
  VaultSession alice = must_open(ws.paths(), 2);
  // The vault file is replaced by one whose root is alice's own.
  Json other = team();
  other["root"] = "alice";
  other["records"] = Json::array();
  other.erase("ratchet");
  ws.write(other);
  const auto vault_before = file_bytes(ws.paths().vault_file);
  auto w = set_secret(alice, kNew, bytes("v"));
  ASSERT_FALSE(w);
  ASSERT_EQ(w.error().kind(), OpsError::Store);
  EXPECT_EQ(w.error().store_error().kind(), StoreError::TrustRootMismatch);
  EXPECT_EQ(file_bytes(ws.paths().vault_file), vault_before);
}

TEST(WriteSecret, FieldEditsKeepFieldsOthersCommitted) {
  OpsWorkspace ws;
  ws.write(team());
  VaultSession a = must_open(ws.paths(), 2);
  ASSERT_TRUE(set_secret(a, kNew, bytes("v")));
  VaultSession b = must_open(ws.paths(), 2);  // sees the secret without fields

  ASSERT_EQ(*set_secret_field(a, kNew, "one", bytes("1")), FieldEdit::Written);
  // b's own state is stale, yet its edit starts from the refreshed secret.
  ASSERT_EQ(*set_secret_field(b, kNew, "two", bytes("2")), FieldEdit::Written);
  EXPECT_EQ(field_keys(must_open(ws.paths(), 3), kNew), (std::vector<std::string>{"one", "two"}));

  // Removing a field a stale session never saw works; removing an absent one writes nothing.
  VaultSession stale = must_open(ws.paths(), 2);
  ASSERT_EQ(*set_secret_field(a, kNew, "three", bytes("3")), FieldEdit::Written);
  ASSERT_EQ(*delete_secret_field(stale, kNew, "three"), FieldEdit::Written);
  const auto vault_before = file_bytes(ws.paths().vault_file);
  ASSERT_EQ(*delete_secret_field(stale, kNew, "three"), FieldEdit::NoSuchField);
  EXPECT_EQ(file_bytes(ws.paths().vault_file), vault_before);
  EXPECT_EQ(field_keys(stale, kNew), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(value_of(stale, kNew), "v");

  // A key in another normal form names the same stored field.
  ASSERT_EQ(*set_secret_field(a, kNew, "Cafe\xcc\x81", bytes("x")), FieldEdit::Written);
  ASSERT_EQ(*set_secret_field(a, kNew, "Caf\xc3\xa9", bytes("y")), FieldEdit::Written);
  auto read = read_secret(a, kNew);
  ASSERT_TRUE(read);
  ASSERT_NE(find_field(*read, "Cafe\xcc\x81"), nullptr);
  EXPECT_EQ(testing::text_of(find_field(*read, "Cafe\xcc\x81")->value), "y");
  EXPECT_EQ(read->fields.size(), 3u);

  // A secret that does not exist on disk: set_field creates nothing.
  auto missing = set_secret_field(a, core::SecretSelectorV1{{"app", "none"}, {}}, "k", bytes("v"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message(), "secret is missing");
}

TEST(WriteSecret, RefusedBeforeAnyLock) {
  OpsWorkspace ws;
  ws.write(team());
  VaultSession bob = must_open(ws.paths(), 3);
  auto w = set_secret(bob, kNew, bytes("v"));
  ASSERT_FALSE(w);
  EXPECT_EQ(w.error().message(), "secret is not writable by this identity");
}

// A field edit reads before it writes, both on the state refreshed under the write locks: a
// secret the editor cannot read is refused by the read, a key that delete_field does not find
// ends it with NoSuchField, and only then may a secret it can read but not write be refused by
// the write check; none of them writes a byte.
TEST(WriteSecret, FieldEditsRefuseInTheReadThenWriteOrder) {
  OpsWorkspace ws;
  Json scene = team();
  scene["records"].push_back(Json::parse(R"({"kind": "User", "user": "carol", "counter": 1})"));
  scene["records"].push_back(Json::parse(R"({"kind": "EntryPoint", "signer": "carol", "counter": 1})"));
  ws.write(scene);
  const core::SecretSelectorV1 with_field{{"app", "with-field"}, {}};
  {
    VaultSession alice = must_open(ws.paths(), 2);
    ASSERT_TRUE(set_secret(alice, kNew, bytes("v")));
    ASSERT_TRUE(set_secret(alice, with_field, bytes("v")));
    ASSERT_EQ(*set_secret_field(alice, with_field, "k", bytes("f")), FieldEdit::Written);
  }
  const auto vault_before = file_bytes(ws.paths().vault_file);
  const auto ratchet_before = file_bytes(ws.ratchet_file(scenario_root()));
  VaultSession bob = must_open(ws.paths(), 3);
  VaultSession carol = must_open(ws.paths(), 4);
  const std::string not_writable = "secret is not writable by this identity";
  struct Case {
    const char* name;
    VaultSession* session;
    const core::SecretSelectorV1* selector;
    std::string want_set;
    std::string want_delete;  // empty: NoSuchField
  };
  const core::SecretSelectorV1 absent{{"app", "none"}, {}};
  for (const Case& c :
       {Case{"reader, secret absent", &bob, &absent, "secret is missing", "secret is missing"},
        Case{"reader, not a writer, key absent", &bob, &kNew, not_writable, ""},
        Case{"reader, not a writer, key present", &bob, &with_field, not_writable, not_writable},
        Case{"neither reader nor writer", &carol, &kNew, "secret is not decryptable for this identity: Unauthorized",
             "secret is not decryptable for this identity: Unauthorized"}}) {
    auto set = set_secret_field(*c.session, *c.selector, "k", bytes("v"));
    auto del = delete_secret_field(*c.session, *c.selector, "k");
    ASSERT_FALSE(set) << c.name;
    EXPECT_EQ(set.error().message(), c.want_set) << c.name;
    if (c.want_delete.empty()) {
      ASSERT_TRUE(del) << c.name << ": " << del.error().message();
      EXPECT_EQ(*del, FieldEdit::NoSuchField) << c.name;
    } else {
      ASSERT_FALSE(del) << c.name;
      EXPECT_EQ(del.error().message(), c.want_delete) << c.name;
    }
  }
  EXPECT_EQ(file_bytes(ws.paths().vault_file), vault_before);
  EXPECT_EQ(file_bytes(ws.ratchet_file(scenario_root())), ratchet_before);
}

// A field edit finds the secret, its fields and the editor's rights as the files hold them under
// the write locks, not as the session saw them when it opened.
TEST(WriteSecret, FieldEditsDecideOnTheRefreshedState) {
  OpsWorkspace ws;
  ws.write(team());
  VaultSession early = must_open(ws.paths(), 2);
  {
    VaultSession later = must_open(ws.paths(), 2);  // opened after `early`
    ASSERT_TRUE(set_secret(later, kNew, bytes("v")));
  }
  auto set = set_secret_field(early, kNew, "k", bytes("f"));
  ASSERT_TRUE(set) << set.error().message();
  EXPECT_EQ(*set, FieldEdit::Written);
  EXPECT_EQ(field_keys(must_open(ws.paths(), 3), kNew), std::vector<std::string>{"k"});

  // Removing fields of a secret created after the session opened: an absent key is NoSuchField
  // and writes nothing, a present one is removed.
  VaultSession stale = must_open(ws.paths(), 2);
  const core::SecretSelectorV1 fresh{{"app", "fresh"}, {}};
  {
    VaultSession later = must_open(ws.paths(), 2);
    ASSERT_TRUE(set_secret(later, fresh, bytes("v")));
    ASSERT_TRUE(set_secret_field(later, fresh, "f", bytes("x")));
  }
  const auto fresh_vault = file_bytes(ws.paths().vault_file);
  auto absent = delete_secret_field(stale, fresh, "k");
  ASSERT_TRUE(absent) << absent.error().message();
  EXPECT_EQ(*absent, FieldEdit::NoSuchField);
  EXPECT_EQ(file_bytes(ws.paths().vault_file), fresh_vault);
  auto del = delete_secret_field(stale, fresh, "f");
  ASSERT_TRUE(del) << del.error().message();
  EXPECT_EQ(*del, FieldEdit::Written);
  EXPECT_TRUE(field_keys(must_open(ws.paths(), 3), fresh).empty());
  EXPECT_EQ(value_of(stale, fresh), "v");

  // alice's right to write is withdrawn after she opened (she may still read): the write check
  // on the refreshed state refuses her edits of a field that exists, and writes nothing.
  OpsWorkspace team_ws;
  Json secrets = team_with_secrets();
  secrets["records"].push_back(Json::parse(R"({"kind": "Grant", "seed": 11, "grantee": {"user": "alice"},
      "permission": {"read": {"prefix": ["app"]}}, "counter": 1})"));
  // Written by the root, so the withdrawal leaves it in effect.
  const core::SecretSelectorV1 cfg{{"app", "cfg"}, {}};
  secrets["records"].push_back(Json::parse(R"({"kind": "Secret", "signer": "root", "counter": 2,
      "selector": {"tuple": ["app", "cfg"]}, "value": "v", "fields": {"user": "admin"}})"));
  secrets["ratchet"] = "derived";
  team_ws.write(secrets);
  VaultSession alice = must_open(team_ws.paths(), 2);
  secrets.erase("ratchet");
  secrets["records"].push_back(
      Json::parse(R"({"kind": "GroupMemberDeleted", "group": "ops", "member": {"user": "alice"}, "counter": 2})"));
  team_ws.write(secrets);
  const auto vault_before = file_bytes(team_ws.paths().vault_file);
  const auto ratchet_before = file_bytes(team_ws.ratchet_file(scenario_root()));
  auto set_withdrawn = set_secret_field(alice, cfg, "user", bytes("x"));
  ASSERT_FALSE(set_withdrawn);
  EXPECT_EQ(set_withdrawn.error().message(), "secret is not writable by this identity");
  auto delete_withdrawn = delete_secret_field(alice, cfg, "user");
  ASSERT_FALSE(delete_withdrawn);
  EXPECT_EQ(delete_withdrawn.error().message(), "secret is not writable by this identity");
  EXPECT_EQ(file_bytes(team_ws.paths().vault_file), vault_before);
  EXPECT_EQ(file_bytes(team_ws.ratchet_file(scenario_root())), ratchet_before);
}

TEST(ListSecrets, FilterIsBroughtToNfc) {
  OpsWorkspace ws;
  ws.write(team());
  VaultSession alice = must_open(ws.paths(), 2);
  const core::SecretSelectorV1 cafe{{"app", "Caf\xc3\xa9"}, {{"env", "prod"}}};
  ASSERT_TRUE(set_secret(alice, cafe, bytes("v")));
  ASSERT_TRUE(set_secret(alice, kNew, bytes("v")));
  EXPECT_EQ(list_secrets(alice, nullptr).size(), 2u);
  const core::SecretSelectorV1 filter{{"app", "Cafe\xcc\x81"}, {}};
  EXPECT_EQ(list_secrets(alice, &filter), std::vector<core::SecretSelectorV1>{cafe});
  const core::SecretSelectorV1 by_label{{"app"}, {{"env", "prod"}}};
  EXPECT_EQ(list_secrets(alice, &by_label), std::vector<core::SecretSelectorV1>{cafe});
}

// A write adds its record to the state it refreshed instead of deriving the whole vault again,
// and moves the session onto the file it wrote: after each write the session's state is the one
// a fresh opening of the file derives (but for the ratchet delta, which the opening has already
// remembered), its records view the new bytes, and the bytes it read before are gone.
TEST(WriteSecret, TheSessionAfterAWriteIsTheFileItWroteAndNothingElse) {
  OpsWorkspace ws;
  ws.write(team());
  VaultSession alice = must_open(ws.paths(), 2);
  const core::SecretSelectorV1 other{{"app", "other"}, {}};
  const std::vector<std::function<bool()>> writes = {
      [&] { return set_secret(alice, kNew, bytes("v1")).has_value(); },
      [&] { return set_secret_field(alice, kNew, "k", bytes("f")).has_value(); },
      [&] { return set_secret(alice, other, bytes("o")).has_value(); },
      [&] { return delete_secret_field(alice, kNew, "k").has_value(); },
      [&] { return delete_secret(alice, kNew).has_value(); },
  };
  for (std::size_t i = 0; i < writes.size(); ++i) {
    SCOPED_TRACE(i);
    std::weak_ptr<const cord::Buffer> before = alice.open.vault_bytes;
    ASSERT_TRUE(writes[i]());
    EXPECT_TRUE(before.expired());
    const cord::Buffer& now = *alice.open.vault_bytes;
    for (const core::VaultRecordV1& r : alice.open.records) {
      ASSERT_GE(r.encoding().data(), now.data());
      ASSERT_LE(r.encoding().data() + r.encoding().size(), now.data() + now.size());
    }
    auto fresh = OpenVault::open(ws.paths(), kNoKeychain);
    ASSERT_TRUE(fresh) << fresh.error().message();
    validate::VaultState ours = alice.state();
    validate::VaultState theirs = std::move(fresh->state);
    ours.ratchet = {};
    theirs.ratchet = {};
    EXPECT_EQ(testing::first_difference(ours, theirs), "");
    EXPECT_TRUE(std::ranges::equal(*fresh->vault_bytes, now));
  }
}

}  // namespace
}  // namespace ostrel::ops::test
