// The commit killed at each of its steps: a writer process ends itself (_exit) when the step is
// reached, a fresh process then recovers the workspace, and what it finds is either the old state
// with no journal or the new state, never anything else; a write afterwards succeeds.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <string>

#include "ops/recovery.h"
#include "platform/test_hooks.h"
#include "unit/ops/journal_workspace.h"

namespace ostrel::ops::test {
namespace {

constexpr int kCrashed = 86;

// Runs `body` in a child process and returns its exit status (-1 when it did not exit).
int in_child(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

struct CrashPoint {
  const char* name;
  std::string_view step;
  const char* file;  // the file the step concerns
  bool new_state;    // what recovery must find
};

const CrashPoint kCrashPoints[] = {
    {"journal_temp_file_written", platform::step::kTempSynced, "transaction.cord", false},
    {"journal_renamed", platform::step::kRenamed, "transaction.cord", true},
    {"ratchet_written", platform::step::kRatchetWritten, "transaction.cord", true},
    {"vault_written", platform::step::kVaultWritten, "transaction.cord", true},
    {"read_back", platform::step::kReadBack, "transaction.cord", true},
    {"journal_deleted", platform::step::kJournalDeleted, "transaction.cord", true},
};

// A third state of the same root, for the write after recovery.
std::pair<Bytes, Bytes> third_state(const JournalWorkspace& ws) {
  testing::VaultBuilder builder(ws.root);
  builder.add_member(ws.root, ws.alice);
  builder.add_member(ws.root, testing::identity_of(5));
  validate::RatchetState ratchet = validate::RatchetState::fresh(ws.root_id);
  ratchet.format_version = 1;
  ratchet.apply_record(core::UserRatchetRecordV1{ws.alice.user_id, 1});
  ratchet.apply_record(core::UserRatchetRecordV1{testing::identity_of(5).user_id, 1});
  return {vault_file_of(builder), ratchet_file_of(ratchet)};
}

TEST(CommitCrash, RecoveryFindsTheOldOrTheNewStateAtEveryStep) {
  for (const CrashPoint& point : kCrashPoints) {
    SCOPED_TRACE(point.name);
    JournalWorkspace ws;

    const int writer = in_child([&] {
      platform::set_step_observer([&](std::string_view step, const std::filesystem::path& subject) {
        if (step == point.step && subject.filename() == point.file) ::_exit(kCrashed);
      });
      auto done = ws.commit();
      if (!done) std::cerr << done.error().message() << '\n';
      return 0;  // the step was never reached
    });
    ASSERT_EQ(writer, kCrashed);

    const int opener = in_child([&] {
      auto recovered = recover_pending_journals(ws.paths, ws.root_id);
      if (!recovered) {
        std::cerr << recovered.error().message() << '\n';
        return 1;
      }
      auto loaded = load_ratchet_with_pending(ws.paths, ws.root_id);
      return loaded && !loaded->pending ? 0 : 2;
    });
    ASSERT_EQ(opener, 0);

    EXPECT_FALSE(ws.journal_exists());
    EXPECT_EQ(ws.vault_now(), point.new_state ? ws.new_vault : ws.old_vault);
    EXPECT_EQ(ws.ratchet_now(), point.new_state ? ws.new_ratchet : ws.old_ratchet);

    auto [next_vault, next_ratchet] = third_state(ws);
    auto written = ws.commit(next_vault, next_ratchet);
    ASSERT_TRUE(written.has_value()) << written.error().message();
    EXPECT_EQ(ws.vault_now(), next_vault);
  }
}

}  // namespace
}  // namespace ostrel::ops::test
