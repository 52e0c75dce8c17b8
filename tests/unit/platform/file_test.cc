// The POSIX layer: descriptor ownership, folder creation, lock-file opening, flock semantics and
// environment lookups.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/env.h"
#include "platform/file.h"
#include "platform/lock.h"
#include "support/scratch.h"

namespace ostrel::platform {
namespace {

using ostrel::testing::mode_of;
using ostrel::testing::read_file;
using ostrel::testing::ScopedEnv;
using ostrel::testing::ScopedUmask;
using ostrel::testing::ScratchDir;
using ostrel::testing::write_file;
using Path = std::filesystem::path;

bool fd_is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(File, OwnsItsDescriptorExactlyOnce) {
  ScratchDir d;
  write_file(d / "f", "x");
  auto a = open_for_read(d / "f");
  auto b = open_for_read(d / "f");
  ASSERT_TRUE(a && b);
  const int fd_a = a->fd(), fd_b = b->fd();

  File moved = std::move(*a);
  EXPECT_FALSE(a->is_open());
  EXPECT_TRUE(fd_is_open(fd_a));
  moved = std::move(*b);  // the descriptor it held is closed, the new one kept
  EXPECT_FALSE(fd_is_open(fd_a));
  EXPECT_TRUE(fd_is_open(fd_b));
  EXPECT_TRUE(moved.close());
  EXPECT_FALSE(fd_is_open(fd_b));
  EXPECT_TRUE(moved.close());  // a second close touches nothing
}

TEST(File, DescriptorsAreNotInheritedByExec) {
  ScratchDir d;
  write_file(d / "f", "x");
  auto read = open_for_read(d / "f");
  auto created = create_new(d / "g", 0600);
  auto lock = open_lock_file(d / "l", 0600);
  ASSERT_TRUE(read && created && lock);
  for (const File* f : {&*read, &*created, &*lock}) {
    EXPECT_TRUE(::fcntl(f->fd(), F_GETFD) & FD_CLOEXEC);
  }
}

TEST(CreateNew, RefusesAnExistingNameEvenADanglingLink) {
  ScratchDir d;
  write_file(d / "taken", "x");
  std::filesystem::create_symlink(d / "target", d / "link");
  EXPECT_EQ(create_new(d / "taken", 0600).error().code, EEXIST);
  EXPECT_EQ(create_new(d / "link", 0600).error().code, EEXIST);
  EXPECT_FALSE(std::filesystem::exists(d / "target"));
}

// A path with a NUL inside would reach the system cut short at the NUL and name another file;
// every call refuses it with EINVAL and leaves the file named by the part before the NUL alone.
TEST(Paths, HoldingANulAreRefusedNeverCutShort) {
  ScratchDir d;
  write_file(d / "f", "x");
  ASSERT_TRUE(std::filesystem::create_directory(d / "dir"));
  const Path nul_file = (d / "f").native() + std::string("\0tail", 5);
  const Path nul_dir = (d / "dir").native() + std::string("\0/sub", 5);
  const Path fresh = (d / "new").native() + std::string("\0x", 2);

  struct Case {
    const char* name;
    int code;
  };
  auto code = [](const auto& result) { return result ? 0 : result.error().code; };
  const Case cases[] = {
      {"open_for_read", code(open_for_read(nul_file))},
      {"create_new", code(create_new(fresh, 0600))},
      {"open_lock_file", code(open_lock_file(fresh, 0600))},
      {"stat", code(stat(nul_file))},
      {"lstat", code(lstat(nul_file))},
      {"real_path", code(real_path(nul_file))},
      {"rename from", code(platform::rename(nul_file, d / "g"))},
      {"rename to", code(platform::rename(d / "f", fresh))},
      {"remove_file", code(remove_file(nul_file))},
      {"create_dir_all", code(create_dir_all(nul_dir, 0700))},
  };
  for (const Case& c : cases) EXPECT_EQ(c.code, EINVAL) << c.name;
  EXPECT_TRUE(std::filesystem::exists(d / "f"));
  EXPECT_FALSE(std::filesystem::exists(d / "new"));
  EXPECT_FALSE(std::filesystem::exists(d / "g"));
  EXPECT_FALSE(std::filesystem::exists(d / "dir" / "sub"));
}

TEST(CreateDirAll, BuildsMissingAncestorsAndAcceptsExistingFolders) {
  ScratchDir d;
  ScopedUmask umask(022);
  ASSERT_TRUE(create_dir_all(d / "a/b/c/", 0700));
  EXPECT_EQ(mode_of(d / "a"), 0700u);
  EXPECT_EQ(mode_of(d / "a/b/c"), 0700u);
  EXPECT_TRUE(create_dir_all(d / "a/b", 0777));
  EXPECT_EQ(mode_of(d / "a/b"), 0700u);  // an existing folder is left as it is

  std::filesystem::create_directory_symlink(d / "a", d / "link");
  EXPECT_TRUE(create_dir_all(d / "link", 0700));
  EXPECT_TRUE(create_dir_all(d / "link/new", 0700));
  EXPECT_TRUE(std::filesystem::is_directory(d / "a/new"));

  write_file(d / "file", "x");
  EXPECT_EQ(create_dir_all(d / "file", 0700).error().code, EEXIST);
  EXPECT_EQ(create_dir_all(d / "file/sub", 0700).error().code, ENOTDIR);
  EXPECT_TRUE(create_dir_all("", 0700));  // the current directory
}

TEST(OpenLockFile, CreatesWithoutTruncatingAndNeverThroughALink) {
  ScratchDir d;
  ScopedUmask umask(077);
  auto fresh = open_lock_file(d / "new.lock", 0666);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(mode_of(d / "new.lock"), 0600u);  // the umask applies

  write_file(d / "old.lock", "content");
  ASSERT_TRUE(open_lock_file(d / "old.lock", 0600));
  EXPECT_EQ(std::filesystem::file_size(d / "old.lock"), 7u);

  std::filesystem::create_symlink(d / "old.lock", d / "link.lock");
  EXPECT_EQ(open_lock_file(d / "link.lock", 0600).error().code, ELOOP);
}

// A lock needs no write access. A lock file another user created under umask 022, or planted
// read-only, must not keep a user who may read it from locking; nor may a FIFO in its place make
// the open wait for a writer.
TEST(OpenLockFile, LocksAFileItMayOnlyRead) {
  ScratchDir d;
  std::filesystem::permissions(d.path(), std::filesystem::perms::all);
  write_file(d / "file.lock", "content");
  ASSERT_EQ(::mkfifo((d / "fifo.lock").c_str(), 0600), 0);
  struct Case {
    const char* name;
    Path path;
  };
  const Case cases[] = {{"regular file", d / "file.lock"}, {"FIFO", d / "fifo.lock"}};
  for (const Case& c : cases) {
    std::filesystem::permissions(c.path, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::group_read |
                                             std::filesystem::perms::others_read);
    const int result = ostrel::testing::run_as_reader_only([&] {
      auto file = open_lock_file(c.path, 0600);
      if (!file) return file.error().code;
      auto locked = try_lock(*file, LockMode::Exclusive);
      return locked ? 0 : locked.error().code;
    });
    if (result == ostrel::testing::kCannotDrop) GTEST_SKIP() << "cannot run as another user here";
    EXPECT_EQ(result, 0) << c.name << ": " << ostrel::testing::reader_result_text(result);
    EXPECT_EQ(mode_of(c.path), 0444u) << c.name;
  }
  EXPECT_EQ(read_file(d / "file.lock"), "content");
}

TEST(Flock, LocksBelongToOpenFilesNotToTheProcess) {
  ScratchDir d;
  auto a = open_lock_file(d / "l", 0600);
  auto b = open_lock_file(d / "l", 0600);
  ASSERT_TRUE(a && b);

  ASSERT_TRUE(try_lock(*a, LockMode::Shared));
  EXPECT_TRUE(try_lock(*b, LockMode::Shared));
  ASSERT_TRUE(unlock(*b));
  EXPECT_EQ(try_lock(*b, LockMode::Exclusive).error().code, EWOULDBLOCK);

  // fcntl record locks would grant this second handle, since both belong to one process.
  ASSERT_TRUE(try_lock(*a, LockMode::Exclusive));
  EXPECT_EQ(try_lock(*b, LockMode::Shared).error().code, EWOULDBLOCK);

  ASSERT_TRUE(a->close());
  EXPECT_TRUE(try_lock(*b, LockMode::Exclusive));
}

TEST(SyncDirectory, FoldersOnly) {
  ScratchDir d;
  write_file(d / "f", "x");
  EXPECT_TRUE(sync_directory(d.path()));
  EXPECT_TRUE(sync_directory(""));
  EXPECT_EQ(sync_directory(d / "f").error().code, ENOTDIR);
  EXPECT_EQ(sync_directory(d / "missing").error().code, ENOENT);
}

TEST(Env, EmptyIsSetAndTempDirFallsBack) {
  {
    ScopedEnv v("OSTREL_TEST_VARIABLE", "");
    EXPECT_EQ(env_var("OSTREL_TEST_VARIABLE"), std::optional<std::string>(""));
  }
  EXPECT_EQ(env_var("OSTREL_TEST_VARIABLE"), std::nullopt);
  {
    ScopedEnv raw("OSTREL_TEST_VARIABLE", "\xff\xfe");
    EXPECT_EQ(env_var("OSTREL_TEST_VARIABLE"), std::optional<std::string>("\xff\xfe"));
  }

  struct Case {
    std::optional<std::string> tmpdir;
    Path want;
  };
  const Case cases[] = {{"/var/t", "/var/t"}, {std::nullopt, "/tmp"}, {"", "/tmp"}};
  for (const Case& c : cases) {
    ScopedEnv t("TMPDIR", c.tmpdir);
    EXPECT_EQ(temp_dir(), c.want);
  }
}

}  // namespace
}  // namespace ostrel::platform
