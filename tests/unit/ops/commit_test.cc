// Committing a vault write: the journal first, the ratchet before the vault, both confirmed and
// the journal deleted last; everything synced in that order; the refusals that write nothing;
// rolling a journal forward from each state a crash can leave; the preflight and its errors.
#include "ops/commit_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "ops/join_commit.h"
#include "platform/test_hooks.h"
#include "unit/ops/journal_workspace.h"

namespace ostrel::ops::test {
namespace {

using store::FilePreconditionV1;

// Every step the store reports while alive, as "step name:file or folder name".
class StepLog {
 public:
  StepLog() {
    platform::set_step_observer([this](std::string_view step, const std::filesystem::path& subject) {
      steps_.push_back(std::string(step) + ":" + subject.filename().string());
    });
  }
  ~StepLog() { platform::set_step_observer(nullptr); }
  StepLog(const StepLog&) = delete;
  StepLog& operator=(const StepLog&) = delete;

  const std::vector<std::string>& steps() const { return steps_; }
  // Where `step` first appears; steps().size() when it does not.
  std::size_t at(const std::string& step) const {
    return static_cast<std::size_t>(std::ranges::find(steps_, step) - steps_.begin());
  }
  bool has(const std::string& step) const { return at(step) < steps_.size(); }

 private:
  std::vector<std::string> steps_;
};

void write_journal(const JournalWorkspace& ws, const store::TransactionV1& journal) {
  ASSERT_TRUE(store::write_transaction(ws.paths, journal).has_value());
}

TEST(CommitVaultWrite, ReplacesBothFilesAndDeletesTheJournal) {
  JournalWorkspace ws;
  auto done = ws.commit();
  ASSERT_TRUE(done.has_value()) << done.error().message();
  EXPECT_EQ(ws.vault_now(), ws.new_vault);
  EXPECT_EQ(ws.ratchet_now(), ws.new_ratchet);
  EXPECT_FALSE(ws.journal_exists());
  // No temporary file is left beside any of them.
  EXPECT_EQ(testing::entries(ws.ratchet_path().parent_path()), (std::vector<std::string>{"ratchet.cord", "state.lock"}));
}

// The journal, with its folder, is on stable storage before the ratchet is touched; the ratchet
// before the vault; each rename and the journal's deletion is followed by a sync of the folder.
TEST(CommitVaultWrite, SyncsTheJournalBeforeTheRatchetAndEveryFolderAfterItsChange) {
  JournalWorkspace ws;
  const std::string root_folder = ws.ratchet_path().parent_path().filename().string();
  StepLog log;
  ASSERT_TRUE(ws.commit().has_value());

  const std::vector<std::string> order = {
      "temp-synced:transaction.cord", "renamed:transaction.cord", "dir-synced:" + root_folder,
      "temp-synced:ratchet.cord",     "renamed:ratchet.cord",     "ratchet-written:transaction.cord",
      "temp-synced:vault.cord",       "renamed:vault.cord",       "dir-synced:.ostrel",
      "vault-written:transaction.cord", "read-back:transaction.cord", "removed:transaction.cord",
      "journal-deleted:transaction.cord"};
  std::size_t last = 0;
  for (const std::string& step : order) {
    const auto it = std::find(log.steps().begin() + static_cast<std::ptrdiff_t>(last), log.steps().end(), step);
    ASSERT_NE(it, log.steps().end()) << step << " missing or out of order";
    last = static_cast<std::size_t>(it - log.steps().begin());
  }
  // Each rename and the deletion is followed at once by the sync of its folder.
  for (const std::string file : {"transaction.cord", "ratchet.cord"}) {
    EXPECT_EQ(log.steps().at(log.at("renamed:" + file) + 1), "dir-synced:" + root_folder) << file;
  }
  EXPECT_EQ(log.steps().at(log.at("renamed:vault.cord") + 1), "dir-synced:.ostrel");
  EXPECT_EQ(log.steps().at(log.at("removed:transaction.cord") + 1), "dir-synced:" + root_folder);
}

TEST(CommitVaultWrite, RefusalsWriteNothing) {
  struct Case {
    const char* name;
    void (*prepare)(JournalWorkspace&);
    std::string want;
  };
  const Case cases[] = {
      {"vault_changed_since_read",
       [](JournalWorkspace& ws) { ws.write_state(ws.new_vault, ws.old_ratchet); },
       "transaction precondition changed for vault; reload and retry"},
      {"ratchet_changed_since_read",
       [](JournalWorkspace& ws) { ws.write_state(ws.old_vault, ws.new_ratchet); },
       "transaction precondition changed for ratchet; reload and retry"},
      {"ratchet_missing",
       [](JournalWorkspace& ws) { std::filesystem::remove(ws.ratchet_path()); },
       "transaction precondition changed for ratchet; reload and retry"},
      {"join_commit_journal_pending",
       [](JournalWorkspace& ws) { testing::write_file(ws.join_commit_path(), "anything"); },
       "both legacy and current recovery journals exist for this vault"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JournalWorkspace ws;
    const Bytes held_vault = ws.old_vault;
    const Bytes held_ratchet = ws.old_ratchet;
    c.prepare(ws);
    const Bytes vault_before = ws.vault_now();
    auto state_lock = store::StateLock::acquire_exclusive(ws.paths, ws.root_id.bytes);
    auto workspace_lock = store::WorkspaceLock::acquire(ws.paths);
    auto done = commit_vault_write(ws.paths, ws.vault_location(), ws.root_id, "vault mutation", held_vault,
                                   held_ratchet, ws.new_vault, ws.new_ratchet);
    ASSERT_FALSE(done.has_value());
    EXPECT_EQ(done.error().message(), c.want);
    EXPECT_EQ(ws.vault_now(), vault_before);
    EXPECT_FALSE(ws.journal_exists());
  }
}

// The after-images are checked before anything is written.
TEST(CommitVaultWrite, RefusesAfterImagesThatAreNotOfTheRoot) {
  JournalWorkspace ws;
  testing::VaultBuilder other(testing::identity_of(9));
  validate::RatchetState other_ratchet = validate::RatchetState::fresh(key_id_of(testing::identity_of(9)));
  const std::string journal = ws.journal_path().string();
  struct Case {
    const char* name;
    Bytes vault;
    Bytes ratchet;
    std::string want;
  };
  const Case cases[] = {
      {"vault_of_another_root", vault_file_of(other), ws.new_ratchet,
       "transaction recovery found a file that matches neither its before nor after state"},
      {"ratchet_of_another_root", ws.new_vault, ratchet_file_of(other_ratchet),
       "transaction recovery found a file that matches neither its before nor after state"},
      {"vault_not_a_vault", testing::bytes("not a vault"), ws.new_ratchet,
       "store error: vault file " + journal +
           " is invalid: validation failed: not a ostrel vault file (missing magic prefix)"},
      {"ratchet_not_a_ratchet", ws.new_vault, testing::bytes("ostrel-ratchet"),
       "store error: ratchet file " + journal +
           " is invalid: Cord could not validate: not a ostrel state file (missing magic prefix)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto done = ws.commit(c.vault, c.ratchet);
    ASSERT_FALSE(done.has_value());
    EXPECT_EQ(done.error().message(), c.want);
    EXPECT_EQ(ws.vault_now(), ws.old_vault);
    EXPECT_EQ(ws.ratchet_now(), ws.old_ratchet);
    EXPECT_FALSE(ws.journal_exists());
  }
}

// The journal is read again only after a crash: once confirmed, its pages leave the cache before
// the ratchet and the vault are written, while those files' own pages stay for the next opening.
TEST(CommitVaultWrite, TheJournalLeavesThePageCacheOnceConfirmed) {
  JournalWorkspace ws;
  std::optional<std::size_t> journal_cached;
  std::optional<std::size_t> ratchet_cached;
  platform::set_step_observer([&](std::string_view step, const std::filesystem::path&) {
    if (step != platform::step::kRatchetWritten) return;
    journal_cached = testing::cached_pages(ws.journal_path());
    ratchet_cached = testing::cached_pages(ws.ratchet_path());
  });
  auto done = ws.commit();
  platform::set_step_observer(nullptr);
  ASSERT_TRUE(done.has_value()) << done.error().message();
  if (!journal_cached || !ratchet_cached || *ratchet_cached == 0) {
    GTEST_SKIP() << "this file system does not tell which written pages it caches";
  }
  EXPECT_EQ(*journal_cached, 0u);
}

// A write's records are found in the after-image it encoded and left viewing it, so the file they
// were read from can go before the commit; an after-image that does not hold them is refused as
// the commit's check refuses it, and a commit handed records found in other bytes than the
// after-image it writes refuses it too, writing nothing.
TEST(AdoptAfterImage, LeavesTheRecordsViewingTheFileOrRefusesIt) {
  JournalWorkspace ws;
  const std::string journal = ws.journal_path().string();
  auto buffer_of = [](const Bytes& b) { return std::make_shared<const cord::Buffer>(b.begin(), b.end()); };
  struct Case {
    const char* name;
    Bytes after_image;
    std::string want;  // empty: adopted
  };
  const Case cases[] = {
      {"the_records_file", ws.new_vault, ""},
      {"other_records", ws.old_vault, "transaction recovery found a file that matches neither its before nor after state"},
      {"not_a_vault", testing::bytes("not a vault"),
       "store error: vault file " + journal +
           " is invalid: validation failed: not a ostrel vault file (missing magic prefix)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = std::make_shared<const Bytes>(ws.new_vault);
    const std::weak_ptr<const Bytes> read_alive = read;
    auto records = store::decode_vault_file(read);
    ASSERT_TRUE(records.has_value());
    read.reset();
    const auto after = buffer_of(c.after_image);
    auto adopted = adopt_after_image(ws.paths, ws.root_id, after, *records);
    if (!c.want.empty()) {
      ASSERT_FALSE(adopted.has_value());
      EXPECT_EQ(adopted.error().message(), c.want);
      continue;
    }
    ASSERT_TRUE(adopted.has_value()) << adopted.error().message();
    EXPECT_TRUE(read_alive.expired());
    EXPECT_EQ(adopted->bytes().data(), after->data());
    for (const core::VaultRecordV1& r : records->items()) {
      ASSERT_GE(r.encoding().data(), after->data());
      ASSERT_LE(r.encoding().data() + r.encoding().size(), after->data() + after->size());
    }
    // The same bytes elsewhere are not the file the records were found in.
    auto state_lock = store::StateLock::acquire_exclusive(ws.paths, ws.root_id.bytes);
    auto workspace_lock = store::WorkspaceLock::acquire(ws.paths);
    auto done = commit_vault_write(ws.paths, ws.vault_location(), ws.root_id, store::kVaultMutationLabel,
                                   ws.vault_now(), ws.ratchet_now(), ws.new_vault, ws.new_ratchet, &*adopted);
    ASSERT_FALSE(done.has_value());
    EXPECT_EQ(done.error().message(), "transaction recovery found a file that matches neither its before nor after state");
    EXPECT_EQ(ws.vault_now(), ws.old_vault);
    EXPECT_FALSE(ws.journal_exists());
    // Its own bytes are.
    done = commit_vault_write(ws.paths, ws.vault_location(), ws.root_id, store::kVaultMutationLabel, ws.vault_now(),
                              ws.ratchet_now(), *after, ws.new_ratchet, &*adopted);
    ASSERT_TRUE(done.has_value()) << done.error().message();
    EXPECT_EQ(ws.vault_now(), ws.new_vault);
  }
}

TEST(CommitVaultWrite, APendingJournalBlocksTheCommit) {
  JournalWorkspace ws;
  write_journal(ws, ws.journal());
  const std::string id = journal_id_hex();
  auto done = ws.commit();
  ASSERT_FALSE(done.has_value());
  EXPECT_EQ(done.error().message(), "a pending transaction " + id + " from " +
                                        std::filesystem::canonical(ws.paths.vault_file).string() +
                                        " blocks writes for this vault");
  EXPECT_EQ(ws.vault_now(), ws.old_vault);
}

TEST(PendingTransactionError, NamesTheJournalAndItsVaultPath) {
  JournalWorkspace ws;
  store::TransactionV1 journal = ws.journal();
  journal.id = Bytes(32, 0);
  journal.id[31] = 0xab;
  const std::string id = std::string(62, '0') + "ab";
  EXPECT_EQ(pending_transaction_error_from_journal(journal).message(),
            "a pending transaction " + id + " from " + std::filesystem::canonical(ws.paths.vault_file).string() +
                " blocks writes for this vault");
  journal.vault_path = store::NativePathV1::WindowsUtf16Le{Bytes{'C', 0, ':', 0}};
  EXPECT_EQ(pending_transaction_error_from_journal(journal).message(),
            "a pending transaction " + id + " from <another platform path> blocks writes for this vault");
  EXPECT_EQ(pending_transaction_error(PendingTransactionSummary{journal.id, std::nullopt}).message(),
            "a pending transaction " + id + " from <another platform path> blocks writes for this vault");
  EXPECT_EQ(pending_transaction_error(PendingTransactionSummary{journal.id, "/w/vault.cord"}).message(),
            "a pending transaction " + id + " from /w/vault.cord blocks writes for this vault");
}

TEST(CheckTransactionFile, ClassifiesByPreconditionAndAfterImage) {
  const Bytes before = testing::bytes("before");
  const Bytes after = testing::bytes("after");
  const FilePreconditionV1 digest = FilePreconditionV1::Digest{store::transaction_file_digest(before)};
  const FilePreconditionV1 absent = FilePreconditionV1::Absent{};
  struct Case {
    const char* name;
    std::optional<Bytes> current;
    FilePreconditionV1 precondition;
    std::optional<FileAction> want;  // none: RecoveryMismatch
  };
  const Case cases[] = {
      {"absent_as_expected", std::nullopt, absent, FileAction::Write},
      {"absent_but_digest_expected", std::nullopt, digest, std::nullopt},
      {"holds_before", before, digest, FileAction::Write},
      {"holds_after", after, digest, FileAction::AlreadyWritten},
      {"holds_neither", testing::bytes("other"), digest, std::nullopt},
      {"present_but_absent_expected", before, absent, std::nullopt},
      {"present_after_absent_expected", after, absent, FileAction::AlreadyWritten},
      {"before_equals_after", after, FilePreconditionV1::Digest{store::transaction_file_digest(after)},
       FileAction::AlreadyWritten},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = check_transaction_file(c.current, c.precondition, after);
    if (c.want) {
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(*got, *c.want);
    } else {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(got.error().kind(), OpsError::RecoveryMismatch);
    }
  }
  EXPECT_TRUE(matches_after_image(after, after));
  EXPECT_FALSE(matches_after_image(before, after));
}

// Rolling forward from each state a crash leaves writes exactly the files still old.
TEST(ApplyTransaction, WritesOnlyWhatIsStillOld) {
  struct Case {
    const char* name;
    bool vault_new;
    bool ratchet_new;
  };
  const Case cases[] = {{"nothing_written", false, false},
                        {"ratchet_written", false, true},
                        {"both_written", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JournalWorkspace ws;
    write_journal(ws, ws.journal());
    ws.write_state(c.vault_new ? ws.new_vault : ws.old_vault, c.ratchet_new ? ws.new_ratchet : ws.old_ratchet);
    StepLog log;
    auto done = apply_transaction(ws.paths, ws.vault_location(), ws.journal());
    ASSERT_TRUE(done.has_value()) << done.error().message();
    EXPECT_EQ(ws.vault_now(), ws.new_vault);
    EXPECT_EQ(ws.ratchet_now(), ws.new_ratchet);
    EXPECT_FALSE(ws.journal_exists());
    EXPECT_EQ(log.has("renamed:ratchet.cord"), !c.ratchet_new);
    EXPECT_EQ(log.has("renamed:vault.cord"), !c.vault_new);
  }
}

TEST(ApplyTransaction, AFileMatchingNeitherImageStopsBeforeAnythingIsWritten) {
  JournalWorkspace ws;
  write_journal(ws, ws.journal());
  const Bytes edited = testing::bytes("edited by hand");
  ws.write_state(edited, ws.old_ratchet);
  const std::string journal_bytes = testing::read_file(ws.journal_path());
  auto done = apply_transaction(ws.paths, ws.vault_location(), ws.journal());
  ASSERT_FALSE(done.has_value());
  EXPECT_EQ(done.error().message(),
            "transaction recovery found a file that matches neither its before nor after state");
  EXPECT_EQ(ws.vault_now(), edited);
  EXPECT_EQ(ws.ratchet_now(), ws.old_ratchet);
  EXPECT_EQ(testing::read_file(ws.journal_path()), journal_bytes);
}

TEST(ApplyTransaction, CreatesAVaultThatWasAbsentBefore) {
  JournalWorkspace ws;
  store::TransactionV1 journal = ws.journal();
  journal.vault_before = FilePreconditionV1::Absent{};
  std::filesystem::remove_all(ws.paths.vault_dir);
  auto done = apply_transaction(ws.paths, ws.vault_location(), journal);
  ASSERT_TRUE(done.has_value()) << done.error().message();
  EXPECT_EQ(ws.vault_now(), ws.new_vault);
}

TEST(PreflightWrite, ReportsWhatIsPending) {
  JournalWorkspace ws;
  EXPECT_TRUE(preflight_write(ws.paths, ws.root_id).has_value());

  write_journal(ws, ws.journal());
  auto pending = preflight_write(ws.paths, ws.root_id);
  ASSERT_FALSE(pending.has_value());
  EXPECT_EQ(pending.error().kind(), OpsError::PendingTransaction);

  // A journal whose after-image does not decode reports that, not the pending error.
  store::TransactionV1 broken = ws.journal();
  broken.next_vault_bytes = testing::bytes("ostrel-vault");
  write_journal(ws, broken);
  auto invalid = preflight_write(ws.paths, ws.root_id);
  ASSERT_FALSE(invalid.has_value());
  EXPECT_EQ(invalid.error().kind(), OpsError::Store);
  EXPECT_EQ(invalid.error().store_error().kind(), StoreError::VaultInvalid);

  std::filesystem::remove(ws.journal_path());
  testing::write_file(ws.join_commit_path(), "x");
  auto both = preflight_write(ws.paths, ws.root_id);
  ASSERT_FALSE(both.has_value());
  EXPECT_EQ(both.error().message(), "both legacy and current recovery journals exist for this vault");
}

// A directory where the join-commit journal would be is not an absent journal.
TEST(PreflightWrite, ADirectoryNamedAsTheJoinCommitJournalIsAStoreError) {
  JournalWorkspace ws;
  std::filesystem::create_directories(ws.join_commit_path());
  auto done = ws.commit();
  ASSERT_FALSE(done.has_value());
  EXPECT_EQ(done.error().message(), "store error: I/O error at " + ws.join_commit_path().string() + ": not a regular file");
}

}  // namespace
}  // namespace ostrel::ops::test
