// Recovery at opening: a journal of this vault file is rolled forward, one of another vault file
// stays pending and its ratchet after-image is laid over the remembered ratchet, both journals at
// once change nothing, and a journal whose after-images are wrong is left where it is.
#include "ops/recovery.h"

#include <gtest/gtest.h>

#include <string>

#include "store/join_commit_file.h"
#include "unit/ops/journal_workspace.h"

namespace ostrel::ops::test {
namespace {

void write_journal(const JournalWorkspace& ws, const store::TransactionV1& journal) {
  ASSERT_TRUE(store::write_transaction(ws.paths, journal).has_value());
}

TEST(RecoverPendingJournals, RollsForwardAJournalOfThisVaultFile) {
  JournalWorkspace ws;
  write_journal(ws, ws.journal());
  ws.write_state(ws.old_vault, ws.new_ratchet);  // the crash came after the ratchet write
  auto done = recover_pending_journals(ws.paths, ws.root_id);
  ASSERT_TRUE(done.has_value()) << done.error().message();
  EXPECT_EQ(ws.vault_now(), ws.new_vault);
  EXPECT_EQ(ws.ratchet_now(), ws.new_ratchet);
  EXPECT_FALSE(ws.journal_exists());
  // Nothing left to do: a second opening changes nothing.
  EXPECT_TRUE(recover_pending_journals(ws.paths, ws.root_id).has_value());
}

TEST(RecoverPendingJournals, NothingPendingIsNothingToDo) {
  JournalWorkspace ws;
  ASSERT_TRUE(recover_pending_journals(ws.paths, ws.root_id).has_value());
  EXPECT_EQ(ws.vault_now(), ws.old_vault);
  EXPECT_EQ(ws.ratchet_now(), ws.old_ratchet);
}

TEST(RecoverPendingJournals, AJournalOfAnotherVaultFileStaysPending) {
  JournalWorkspace ws;
  const std::filesystem::path other = ws.dir / "other" / "vault.cord";
  std::filesystem::create_directories(other.parent_path());
  testing::write_file(other, std::string(ws.old_vault.begin(), ws.old_vault.end()));
  store::TransactionV1 journal = ws.journal();
  journal.vault_path = *store::NativePathV1::from_path(other);
  write_journal(ws, journal);

  ASSERT_TRUE(recover_pending_journals(ws.paths, ws.root_id).has_value());
  EXPECT_TRUE(ws.journal_exists());
  EXPECT_EQ(ws.vault_now(), ws.old_vault);
  EXPECT_EQ(ws.ratchet_now(), ws.old_ratchet);

  // The join-commit journal is not looked at while a transaction journal exists elsewhere.
  auto loaded = load_ratchet_with_pending(ws.paths, ws.root_id);
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
  ASSERT_TRUE(loaded->pending.has_value());
  EXPECT_EQ(loaded->pending->id, journal.id);
  EXPECT_EQ(loaded->pending->vault_path, std::filesystem::canonical(other));
  EXPECT_EQ(loaded->ratchet, *store::parse_ratchet_file("x", ws.new_ratchet));
  EXPECT_EQ(pending_transaction_error(*loaded->pending).message(),
            "a pending transaction " + journal_id_hex() + " from " + std::filesystem::canonical(other).string() +
                " blocks writes for this vault");
}

TEST(RecoverPendingJournals, BothJournalsChangeNothing) {
  JournalWorkspace ws;
  write_journal(ws, ws.journal());
  testing::write_file(ws.join_commit_path(), "whatever it holds");
  const std::string journal_bytes = testing::read_file(ws.journal_path());
  auto done = recover_pending_journals(ws.paths, ws.root_id);
  ASSERT_FALSE(done.has_value());
  EXPECT_EQ(done.error().message(), "both legacy and current recovery journals exist for this vault");
  EXPECT_EQ(ws.vault_now(), ws.old_vault);
  EXPECT_EQ(ws.ratchet_now(), ws.old_ratchet);
  EXPECT_EQ(testing::read_file(ws.journal_path()), journal_bytes);
  EXPECT_EQ(testing::read_file(ws.join_commit_path()), "whatever it holds");
}

TEST(RecoverPendingJournals, AJournalOfAnotherRootsVaultIsLeftOnDisk) {
  JournalWorkspace ws;
  store::TransactionV1 journal = ws.journal();
  journal.next_vault_bytes = vault_file_of(testing::VaultBuilder(testing::identity_of(9)));
  write_journal(ws, journal);
  auto done = recover_pending_journals(ws.paths, ws.root_id);
  ASSERT_FALSE(done.has_value());
  EXPECT_EQ(done.error().kind(), OpsError::RecoveryMismatch);
  EXPECT_TRUE(ws.journal_exists());
  EXPECT_EQ(ws.vault_now(), ws.old_vault);
}

TEST(RecoverPendingJournals, AVaultMatchingNeitherImageFailsAndChangesNothing) {
  JournalWorkspace ws;
  write_journal(ws, ws.journal());
  const Bytes third = vault_file_of([&] {
    testing::VaultBuilder b(ws.root);
    b.add_member(ws.root, testing::identity_of(7));
    return b;
  }());
  ws.write_state(third, ws.old_ratchet);
  auto done = recover_pending_journals(ws.paths, ws.root_id);
  ASSERT_FALSE(done.has_value());
  EXPECT_EQ(done.error().message(),
            "transaction recovery found a file that matches neither its before nor after state");
  EXPECT_EQ(ws.vault_now(), third);
  EXPECT_EQ(ws.ratchet_now(), ws.old_ratchet);
  EXPECT_TRUE(ws.journal_exists());
}

// A journal holds a whole vault as one byte string: one of a vault above the 16 MiB single-length
// limit of other stored files must still load, or every later opening of the root would fail.
TEST(RecoverPendingJournals, AJournalOfA20MiBVaultRecovers) {
  JournalWorkspace ws(20u << 20);
  ASSERT_GT(ws.new_vault.size(), 20u << 20);
  write_journal(ws, ws.journal());
  auto done = recover_pending_journals(ws.paths, ws.root_id);
  ASSERT_TRUE(done.has_value()) << done.error().message();
  EXPECT_EQ(ws.vault_now(), ws.new_vault);
  EXPECT_FALSE(ws.journal_exists());
}

TEST(LoadRatchetWithPending, WithoutAJournal) {
  JournalWorkspace ws;
  auto loaded = load_ratchet_with_pending(ws.paths, ws.root_id);
  ASSERT_TRUE(loaded.has_value());
  EXPECT_FALSE(loaded->pending.has_value());
  EXPECT_EQ(loaded->ratchet, *store::parse_ratchet_file("x", ws.old_ratchet));

  std::filesystem::remove(ws.ratchet_path());
  auto missing = load_ratchet_with_pending(ws.paths, ws.root_id);
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().message(), "workspace is missing ratchet state at " + ws.ratchet_path().string());
}

// While a transaction is pending, a missing ratchet file is no error: the after-image merged into
// an empty ratchet is what the vault is validated against.
TEST(LoadRatchetWithPending, APendingJournalWithoutARatchetFile) {
  JournalWorkspace ws;
  ASSERT_TRUE(store::write_transaction(ws.paths, ws.journal()).has_value());
  std::filesystem::remove(ws.ratchet_path());
  auto loaded = load_ratchet_with_pending(ws.paths, ws.root_id);
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
  validate::RatchetState want = validate::RatchetState::fresh(ws.root_id);
  ASSERT_TRUE(want.merge(*store::parse_ratchet_file("x", ws.new_ratchet)).has_value());
  EXPECT_EQ(loaded->ratchet, want);
  ASSERT_TRUE(loaded->pending.has_value());
  EXPECT_EQ(loaded->pending->vault_path, std::filesystem::canonical(ws.paths.vault_file));
}

}  // namespace
}  // namespace ostrel::ops::test
