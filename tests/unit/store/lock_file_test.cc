// Lock files: creation, contention between handles and processes, release on exit, the 10 s
// give-up.
#include "store/lock_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "support/scratch.h"

namespace ostrel::store {
namespace {

using ostrel::testing::entries;
using ostrel::testing::mode_of;
using ostrel::testing::ScopedEnv;
using ostrel::testing::ScopedUmask;
using ostrel::testing::ScratchDir;
using ostrel::testing::write_file;
using Path = std::filesystem::path;

const std::vector<std::uint8_t> kRoot(32, 0x5a);

class LockFiles : public ::testing::Test {
 protected:
  ScratchDir tmp;
  ScopedEnv state{"OSTREL_STATE_DIR", (tmp / "state").string()};
  ScopedUmask umask{022};
  WorkspacePaths paths = WorkspacePaths::for_vault_file(tmp / "ws/.ostrel/vault.cord");

  // A second, independent handle on a lock file, as another opener would have.
  static platform::File other_handle(const Path& p) {
    auto f = open_lock_file(p, FileAccess::Workspace);
    if (!f) ADD_FAILURE() << f.error().message();
    return std::move(*f);
  }
};

TEST_F(LockFiles, WorkspaceLockCreatesItsFolderAndAnEmptyFileThatStays) {
  {
    auto lock = WorkspaceLock::acquire(paths);
    ASSERT_TRUE(lock) << lock.error().message();
    EXPECT_EQ(lock->path(), tmp / "ws/.ostrel/vault.cord.lock");
  }
  EXPECT_EQ(std::filesystem::file_size(paths.lock_file), 0u);
  EXPECT_EQ(mode_of(paths.lock_file), 0644u);
  EXPECT_EQ(entries(paths.vault_dir), std::vector<std::string>{"vault.cord.lock"});
}

TEST_F(LockFiles, StateLockOfANewRootCreatesItsFolder) {
  {
    auto lock = StateLock::acquire_shared(paths, kRoot);
    ASSERT_TRUE(lock) << lock.error().message();
    EXPECT_EQ(lock->path(), paths.state_lock_path(kRoot));
    EXPECT_FALSE(lock->exclusive());
  }
  const Path p = paths.state_lock_path(kRoot);
  EXPECT_EQ(std::filesystem::file_size(p), 0u);
  EXPECT_EQ(mode_of(p), 0600u);
  EXPECT_EQ(mode_of(p.parent_path()), 0700u);
}

TEST_F(LockFiles, ExistingLockFileIsNeverTruncated) {
  std::filesystem::create_directories(paths.vault_dir);
  write_file(paths.lock_file, "left by someone");
  auto lock = WorkspaceLock::acquire(paths);
  ASSERT_TRUE(lock);
  EXPECT_EQ(std::filesystem::file_size(paths.lock_file), 15u);
}

TEST_F(LockFiles, SharedLocksCoexistAndExcludeExclusive) {
  auto first = StateLock::acquire_shared(paths, kRoot);
  auto second = StateLock::acquire_shared(paths, kRoot);
  ASSERT_TRUE(first && second);
  platform::File probe = other_handle(paths.state_lock_path(kRoot));
  auto excl = try_lock_exclusive(probe);
  ASSERT_FALSE(excl);
  EXPECT_EQ(excl.error().kind(), IoError::WouldBlock);

  first->release();
  EXPECT_FALSE(try_lock_exclusive(probe));
  second->release();
  EXPECT_TRUE(try_lock_exclusive(probe));
}

TEST_F(LockFiles, TwoHandlesOfOneProcessContend) {
  auto held = WorkspaceLock::acquire(paths);
  ASSERT_TRUE(held);
  platform::File probe = other_handle(paths.lock_file);
  EXPECT_EQ(try_lock_shared(probe).error().kind(), IoError::WouldBlock);
  EXPECT_EQ(try_lock_exclusive(probe).error().kind(), IoError::WouldBlock);

  // Dropping the guard releases the lock.
  { auto moved = std::move(*held); }
  EXPECT_TRUE(try_lock_exclusive(probe));
  EXPECT_TRUE(unlock_file(probe));
  auto again = WorkspaceLock::acquire(paths);
  EXPECT_TRUE(again);
}

TEST_F(LockFiles, WaitEndsWhenTheHoldingProcessDies) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    auto lock = StateLock::acquire_exclusive(paths, kRoot);
    const char ok = lock ? '1' : '0';
    (void)::write(ready[1], &ok, 1);
    ::usleep(400'000);
    ::_exit(0);  // without releasing: the kernel frees the lock with the process
  }
  ::close(ready[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(ok, '1');

  // The child holds it now: a try from here fails at once.
  platform::File probe = other_handle(paths.state_lock_path(kRoot));
  EXPECT_EQ(try_lock_shared(probe).error().kind(), IoError::WouldBlock);

  auto lock = StateLock::acquire_shared(paths, kRoot);
  ASSERT_TRUE(lock) << lock.error().message();
  // Granted only once the child was gone.
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, WNOHANG), child);
}

TEST_F(LockFiles, GivesUpAfterTenSecondsNamingTheLockFile) {
  // A shared lock is not upgraded in place: a second handle of this process asking for the
  // exclusive lock waits the whole time and fails.
  auto shared = StateLock::acquire_shared(paths, kRoot);
  ASSERT_TRUE(shared);
  const auto start = std::chrono::steady_clock::now();
  auto exclusive = StateLock::acquire_exclusive(paths, kRoot);
  const auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_FALSE(exclusive);
  EXPECT_TRUE(exclusive.error().kind() == StoreError::WorkspaceLockHeld);
  EXPECT_EQ(exclusive.error().message(),
            "workspace lock is already held at " + paths.state_lock_path(kRoot).string());
  EXPECT_GE(waited, kLockWait);
  // The failed acquirer left no lock behind.
  shared->release();
  platform::File probe = other_handle(paths.state_lock_path(kRoot));
  EXPECT_TRUE(try_lock_exclusive(probe));
}

TEST_F(LockFiles, LinkAtTheLockFileIsRefused) {
  std::filesystem::create_directories(paths.vault_dir);
  std::filesystem::create_symlink(tmp / "elsewhere", paths.lock_file);
  auto lock = WorkspaceLock::acquire(paths);
  ASSERT_FALSE(lock);
  EXPECT_EQ(lock.error().message(), "I/O error at " + paths.lock_file.string() +
                                        ": Too many levels of symbolic links (os error 40)");
  EXPECT_FALSE(std::filesystem::exists(tmp / "elsewhere"));
}

// What a failed acquire tells a child's exit status: the system's error code where there is
// one.
template <class T>
int failure_code(const StoreResult<T>& r) {
  if (r) return 0;
  if (r.error().kind() == StoreError::Io) return r.error().io_error().os_code().value_or(EIO);
  return EBUSY;
}

// The first writer of a team folder creates vault.cord.lock under its own umask, often 0644;
// every other member may only read it, and must still be able to lock it. So must the owner of
// a lock file planted read-only.
TEST_F(LockFiles, LockFileTheWriterMayOnlyReadStillLocks) {
  std::filesystem::permissions(tmp.path(), std::filesystem::perms::all);
  std::filesystem::create_directories(paths.vault_dir);
  std::filesystem::create_directories(tmp / "state-like");
  const Path private_lock = tmp / "state-like/state.lock";
  struct Case {
    const char* name;
    Path lock_file;
    std::function<int()> acquire;
  };
  const Case cases[] = {
      {"workspace lock", paths.lock_file, [&] { return failure_code(WorkspaceLock::acquire(paths)); }},
      {"exclusive private lock", private_lock,
       [&] { return failure_code(lock_file_with_wait(private_lock, true, FileAccess::Private)); }},
      {"shared private lock", private_lock,
       [&] { return failure_code(lock_file_with_wait(private_lock, false, FileAccess::Private)); }},
  };
  for (const Case& c : cases) {
    write_file(c.lock_file, "");
    ASSERT_EQ(::chmod(c.lock_file.c_str(), 0444), 0);
    const int result = ostrel::testing::run_as_reader_only(c.acquire);
    if (result == ostrel::testing::kCannotDrop) GTEST_SKIP() << "cannot run as another user here";
    EXPECT_EQ(result, 0) << c.name << ": " << ostrel::testing::reader_result_text(result);
    EXPECT_EQ(mode_of(c.lock_file), 0444u) << c.name;
  }
}

TEST_F(LockFiles, FolderThatCannotBeCreatedIsNamedNotTheLockFile) {
  write_file(tmp / "state", "a file where the state directory should be");
  auto lock = StateLock::acquire_shared(paths, kRoot);
  ASSERT_FALSE(lock);
  const StoreError& io = lock.error();
  ASSERT_EQ(io.kind(), StoreError::Io);
  EXPECT_EQ(io.path(), paths.state_lock_path(kRoot).parent_path());
  EXPECT_EQ(io.io_error().os_code(), ENOTDIR);
}

}  // namespace
}  // namespace ostrel::store
