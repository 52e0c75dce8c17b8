// Join-commit journals: applied at opening when their before-digests match (or the files already
// hold the new content), refused with nothing written when they do not, when they belong to
// another root, or when their after-images are not a vault and a ratchet of their root.
#include "ops/join_commit.h"

#include <gtest/gtest.h>

#include <string>

#include "ops/recovery.h"
#include "store/join_commit_file.h"
#include "unit/ops/journal_workspace.h"

namespace ostrel::ops::test {
namespace {

constexpr std::string_view kConflict = "a prepared Kubernetes enrollment transaction conflicts with local vault state";

store::JoinCommitJournalV1 journal_of(const JournalWorkspace& ws) {
  return store::JoinCommitJournalV1{
      .trusted_root = ws.root_id,
      .vault_before_hash = store::join_commit_digest(ws.old_vault),
      .ratchet_before_hash = store::join_commit_digest(ws.old_ratchet),
      .next_vault_bytes = ws.new_vault,
      .next_ratchet_bytes = ws.new_ratchet,
  };
}

std::string encode(const store::JoinCommitJournalV1& journal) {
  auto bytes = store::encode_join_commit_file(journal);
  if (!bytes) std::abort();
  return std::string(bytes->begin(), bytes->end());
}

void place(const JournalWorkspace& ws, const store::JoinCommitJournalV1& journal) {
  testing::write_file(ws.join_commit_path(), encode(journal));
}

TEST(RecoverJoinCommit, AppliesTheJournalAndDeletesIt) {
  JournalWorkspace ws;
  place(ws, journal_of(ws));
  auto done = recover_pending_journals(ws.paths, ws.root_id);
  ASSERT_TRUE(done.has_value()) << done.error().message();
  EXPECT_EQ(ws.vault_now(), ws.new_vault);
  EXPECT_EQ(ws.ratchet_now(), ws.new_ratchet);
  EXPECT_FALSE(std::filesystem::exists(ws.join_commit_path()));
}

// After a crash that followed the vault write both files hold their new content; the journal is
// applied again and removed.
TEST(RecoverJoinCommit, AppliesAgainAfterACrash) {
  JournalWorkspace ws;
  place(ws, journal_of(ws));
  ws.write_state(ws.new_vault, ws.new_ratchet);
  auto done = recover_join_commit(ws.paths, ws.vault_location(), ws.root_id);
  ASSERT_TRUE(done.has_value()) << done.error().message();
  EXPECT_EQ(ws.vault_now(), ws.new_vault);
  EXPECT_FALSE(std::filesystem::exists(ws.join_commit_path()));
}

TEST(RecoverJoinCommit, RefusalsLeaveEverythingAsItWas) {
  struct Case {
    const char* name;
    // Returns the journal file's bytes after changing the workspace as the case needs.
    std::string (*prepare)(JournalWorkspace&);
    std::string want;  // empty: kConflict
  };
  const Case cases[] = {
      {"wrong_magic", [](JournalWorkspace&) { return std::string("ostrel-join-commiX") + '\0' + "rest"; }, ""},
      {"another_root",
       [](JournalWorkspace& ws) {
         auto j = journal_of(ws);
         j.trusted_root = HashValue(Bytes(32, 7));
         return encode(j);
       },
       ""},
      {"payload_ends_early",
       [](JournalWorkspace& ws) {
         std::string bytes = encode(journal_of(ws));
         return bytes.substr(0, bytes.size() - 1);
       },
       "Cord error: Unexpected end of input"},
      {"vault_matches_neither",
       [](JournalWorkspace& ws) {
         auto j = journal_of(ws);
         j.vault_before_hash = HashValue(Bytes(32, 1));
         return encode(j);
       },
       ""},
      {"ratchet_matches_neither",
       [](JournalWorkspace& ws) {
         auto j = journal_of(ws);
         j.ratchet_before_hash = HashValue(Bytes(32, 1));
         return encode(j);
       },
       ""},
      {"ratchet_file_removed",
       [](JournalWorkspace& ws) {
         std::filesystem::remove(ws.ratchet_path());
         return encode(journal_of(ws));
       },
       "workspace is missing ratchet state at {ratchet}"},
      // The after-images are checked before either file is replaced.
      {"next_vault_not_a_vault",
       [](JournalWorkspace& ws) {
         auto j = journal_of(ws);
         j.next_vault_bytes = testing::bytes("garbage");
         return encode(j);
       },
       ""},
      {"next_vault_of_another_root",
       [](JournalWorkspace& ws) {
         auto j = journal_of(ws);
         j.next_vault_bytes = vault_file_of(testing::VaultBuilder(testing::identity_of(9)));
         return encode(j);
       },
       ""},
      {"next_ratchet_of_another_root",
       [](JournalWorkspace& ws) {
         auto j = journal_of(ws);
         j.next_ratchet_bytes = ratchet_file_of(validate::RatchetState::fresh(HashValue(Bytes(32, 7))));
         return encode(j);
       },
       ""},
      {"next_ratchet_not_as_the_encoder_writes_it",
       [](JournalWorkspace& ws) {
         // Two entries for one user: it parses, but the state keeps one, so writing it back gives
         // other bytes than the journal names.
         validate::RatchetState state = validate::RatchetState::fresh(ws.root_id);
         std::vector<core::RatchetElement> elements = state.to_elements();
         elements.push_back(core::RatchetElement(core::RatchetRecordV1(core::UserRatchetRecordV1{ws.alice.user_id, 1})));
         elements.push_back(core::RatchetElement(core::RatchetRecordV1(core::UserRatchetRecordV1{ws.alice.user_id, 2})));
         cord::Buffer file = {'o', 's', 't', 'r', 'e', 'l', '-', 'r', 'a', 't', 'c', 'h', 'e', 't', 0, 0, 0, 0, 0};
         cord::Serializer s(file);
         if (!cord::encode(s, cord::Set<core::RatchetElement>(elements))) std::abort();
         auto j = journal_of(ws);
         j.next_ratchet_bytes = to_bytes(file);
         return encode(j);
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JournalWorkspace ws;
    const std::string journal = c.prepare(ws);
    testing::write_file(ws.join_commit_path(), journal);
    const bool had_ratchet = std::filesystem::exists(ws.ratchet_path());
    auto done = recover_pending_journals(ws.paths, ws.root_id);
    ASSERT_FALSE(done.has_value());
    std::string want = c.want.empty() ? std::string(kConflict) : c.want;
    if (const auto at = want.find("{ratchet}"); at != std::string::npos) {
      want.replace(at, 9, ws.ratchet_path().string());
    }
    EXPECT_EQ(done.error().message(), want);
    EXPECT_EQ(ws.vault_now(), ws.old_vault);
    if (had_ratchet) {
      EXPECT_EQ(ws.ratchet_now(), ws.old_ratchet);
    }
    EXPECT_EQ(testing::read_file(ws.join_commit_path()), journal);
  }
}

// Another opening applied the journal between this one's first read and its locks: done.
TEST(RecoverJoinCommit, AJournalAppliedMeanwhileIsDone) {
  JournalWorkspace ws;
  place(ws, journal_of(ws));
  {
    // Hold the write locks, apply the journal as the other opening would, then let go.
    auto state_lock = store::StateLock::acquire_exclusive(ws.paths, ws.root_id.bytes);
    auto workspace_lock = store::WorkspaceLock::acquire(ws.paths);
    ASSERT_TRUE(apply_join_commit(ws.paths, ws.vault_location(), journal_of(ws)).has_value());
  }
  // The journal now is gone; a recovery that read it before would find nothing under the locks.
  EXPECT_FALSE(std::filesystem::exists(ws.join_commit_path()));
  EXPECT_TRUE(recover_join_commit(ws.paths, ws.vault_location(), ws.root_id).has_value());
  EXPECT_EQ(ws.vault_now(), ws.new_vault);
}

TEST(JoinCommitPending, PresenceOnly) {
  JournalWorkspace ws;
  auto absent = join_commit_pending(ws.paths, ws.root_id);
  ASSERT_TRUE(absent.has_value());
  EXPECT_FALSE(*absent);
  testing::write_file(ws.join_commit_path(), "not even a journal");
  auto present = join_commit_pending(ws.paths, ws.root_id);
  ASSERT_TRUE(present.has_value());
  EXPECT_TRUE(*present);
}

// The journal of a vault above 16 MiB is read with lengths up to its own file limit.
TEST(RecoverJoinCommit, AJournalOfA20MiBVaultApplies) {
  JournalWorkspace ws(20u << 20);
  place(ws, journal_of(ws));
  auto done = recover_pending_journals(ws.paths, ws.root_id);
  ASSERT_TRUE(done.has_value()) << done.error().message();
  EXPECT_EQ(ws.vault_now(), ws.new_vault);
}

}  // namespace
}  // namespace ostrel::ops::test
