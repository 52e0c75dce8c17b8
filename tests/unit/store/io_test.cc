// Bounded reads, atomic writes, temporary names and removal, against real files.
#include "store/io_internal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <regex>

#include "support/scratch.h"

namespace ostrel::store {
namespace {

using ostrel::testing::bytes;
using ostrel::testing::entries;
using ostrel::testing::mode_of;
using ostrel::testing::read_file;
using ostrel::testing::ScopedUmask;
using ostrel::testing::ScratchDir;
using ostrel::testing::write_file;
using Path = std::filesystem::path;

const std::regex kTempName(R"(\.(.*)\.tmp\.[0-9a-f]{32})");

TEST(BoundedRead, SizeLimitIsInclusive) {
  ScratchDir d;
  write_file(d / "ten", "0123456789");
  write_file(d / "eleven", "0123456789A");
  write_file(d / "empty", "");

  auto ten = read_regular_file_bounded(d / "ten", 10);
  ASSERT_TRUE(ten);
  EXPECT_EQ(*ten, bytes("0123456789"));
  auto empty = read_regular_file_bounded(d / "empty", 0);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());

  auto eleven = read_regular_file_bounded(d / "eleven", 10);
  ASSERT_FALSE(eleven);
  EXPECT_EQ(eleven.error().kind(), IoError::InvalidData);
  EXPECT_EQ(eleven.error().message(), "file is 11 bytes, above the supported maximum of 10");
}

TEST(BoundedRead, OversizedSparseFileIsRefusedFromItsMetadata) {
  ScratchDir d;
  const Path p = d / "sparse";
  const int fd = ::open(p.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  // 64 GiB of holes: reading or allocating it first would exhaust memory.
  ASSERT_EQ(::ftruncate(fd, off_t{1} << 36), 0);
  ::close(fd);
  auto r = read_regular_file_bounded(p, 268'435'456);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), IoError::InvalidData);
  EXPECT_EQ(r.error().message(), "file is 68719476736 bytes, above the supported maximum of 268435456");
}

TEST(BoundedRead, ReadIsBoundedEvenWhenTheMetadataSaysLess) {
  // Files under /proc report size 0 but have content: the bound must hold during the read.
  auto small = read_regular_file_bounded("/proc/self/status", 16);
  ASSERT_FALSE(small);
  EXPECT_EQ(small.error().kind(), IoError::InvalidData);
  EXPECT_EQ(small.error().message(), "file exceeds the supported maximum of 16 bytes");

  auto whole = read_regular_file_bounded("/proc/self/status", 1 << 20);
  ASSERT_TRUE(whole);
  const std::string text(whole->begin(), whole->end());
  EXPECT_EQ(text.rfind("Name:", 0), 0u) << text;
}

TEST(BoundedRead, OnlyRegularFilesAreRead) {
  ScratchDir d;
  std::filesystem::create_directory(d / "dir");
  write_file(d / "dir/f", std::string(100, 'x'));
  ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0600), 0);

  // A FIFO without a writer would block a plain open for ever; fail loudly instead of hanging.
  ::alarm(10);
  for (const Path& p : {d / "dir", d / "fifo", Path("/dev/zero"), Path("/dev/null")}) {
    auto r = read_regular_file_bounded(p, 1 << 20);
    ASSERT_FALSE(r) << p;
    EXPECT_EQ(r.error().kind(), IoError::InvalidInput) << p;
    EXPECT_EQ(r.error().message(), "not a regular file") << p;
  }
  ::alarm(0);
}

// The reader for files with a secret in the clear shares the one body: the same bounds, kinds and
// texts, the growth past a size the metadata understated included.
TEST(BoundedRead, SecretFilesAreReadByTheSameRules) {
  ScratchDir d;
  write_file(d / "ten", "0123456789");
  auto ten = read_secret_file_bounded(d / "ten", 10);
  ASSERT_TRUE(ten);
  EXPECT_EQ(std::vector<std::uint8_t>(ten->begin(), ten->end()), bytes("0123456789"));
  EXPECT_EQ(read_secret_file_bounded(d / "ten", 9).error().message(),
            "file is 10 bytes, above the supported maximum of 9");
  EXPECT_EQ(read_secret_file_bounded("/proc/self/status", 16).error().message(),
            "file exceeds the supported maximum of 16 bytes");
  auto status = read_secret_file_bounded("/proc/self/status", 1 << 20);
  ASSERT_TRUE(status);
  EXPECT_EQ(std::string(status->begin(), status->begin() + 5), "Name:");
  EXPECT_EQ(read_secret_file_bounded(d / ".", 100).error().kind(), IoError::InvalidInput);
  EXPECT_EQ(read_secret_file_bounded(d / "missing", 100).error().kind(), IoError::NotFound);
}

TEST(BoundedRead, LinksAreFollowedAndMissingPathsAreNotFound) {
  ScratchDir d;
  write_file(d / "target", "payload");
  std::filesystem::create_symlink(d / "target", d / "link");
  std::filesystem::create_symlink(d / "nowhere", d / "dangling");
  write_file(d / "file", "x");

  auto linked = read_regular_file_bounded(d / "link", 100);
  ASSERT_TRUE(linked);
  EXPECT_EQ(*linked, bytes("payload"));

  struct Case {
    Path path;
    std::string text;
  };
  const Case cases[] = {
      {d / "dangling", "No such file or directory (os error 2)"},
      {d / "missing", "No such file or directory (os error 2)"},
      {d / "missing-dir/file", "No such file or directory (os error 2)"},
      {d / "file/below", "Not a directory (os error 20)"},
  };
  for (const Case& c : cases) {
    auto r = read_regular_file_bounded(c.path, 100);
    ASSERT_FALSE(r) << c.path;
    EXPECT_EQ(r.error().kind(), IoError::NotFound) << c.path;
    EXPECT_EQ(r.error().message(), c.text) << c.path;
  }
}

TEST(TempPath, FreshSiblingNamedAfterTheTarget) {
  struct Case {
    Path target;
    Path dir;
    std::string name;
  };
  const Case cases[] = {
      {"/d/vault.cord", "/d", "vault.cord"},
      {"vault.cord", "", "vault.cord"},
      {"/d/\xFF.cord", "/d", "ostrel-write"},  // not UTF-8
      {"/d/\xC3\xA9t\xC3\xA9", "/d", "\xC3\xA9t\xC3\xA9"},
  };
  for (const Case& c : cases) {
    const Path first = temp_path_for(c.target);
    const Path second = temp_path_for(c.target);
    EXPECT_EQ(first.parent_path(), c.dir) << c.target;
    std::smatch m;
    const std::string file_name = first.filename().string();
    ASSERT_TRUE(std::regex_match(file_name, m, kTempName)) << first;
    EXPECT_EQ(m[1].str(), c.name);
    EXPECT_NE(first, second);
  }
}

TEST(AtomicWrite, CreatesFoldersAndLeavesOnlyTheTarget) {
  ScratchDir d;
  const Path target = d / "a/b/c/ratchet.cord";
  ASSERT_TRUE(write_atomic(target, bytes("first"), FileAccess::Workspace));
  EXPECT_EQ(read_file(target), "first");
  ASSERT_TRUE(write_atomic(target, bytes("second, longer"), FileAccess::Workspace));
  EXPECT_EQ(read_file(target), "second, longer");
  ASSERT_TRUE(write_atomic(target, {}, FileAccess::Workspace));
  EXPECT_EQ(read_file(target), "");
  EXPECT_EQ(entries(d / "a/b/c"), std::vector<std::string>{"ratchet.cord"});
}

TEST(AtomicWrite, PermissionsFollowTheAccess) {
  ScratchDir d;
  ScopedUmask umask(022);
  ASSERT_TRUE(write_atomic(d / "ws/vault.cord", bytes("v"), FileAccess::Workspace));
  EXPECT_EQ(mode_of(d / "ws"), 0755u);
  EXPECT_EQ(mode_of(d / "ws/vault.cord"), 0644u);

  ASSERT_TRUE(write_atomic(d / "state/root/ratchet.cord", bytes("r"), FileAccess::Private));
  EXPECT_EQ(mode_of(d / "state"), 0700u);
  EXPECT_EQ(mode_of(d / "state/root"), 0700u);
  EXPECT_EQ(mode_of(d / "state/root/ratchet.cord"), 0600u);

  // A replaced file keeps its mode exactly, even bits the umask would remove.
  ASSERT_TRUE(write_atomic(d / "kept", bytes("new"), FileAccess::KeepTarget));
  EXPECT_EQ(mode_of(d / "kept"), 0644u);
  ASSERT_EQ(::chmod((d / "kept").c_str(), 0662), 0);
  ASSERT_TRUE(write_atomic(d / "kept", bytes("newer"), FileAccess::KeepTarget));
  EXPECT_EQ(mode_of(d / "kept"), 0662u);
  EXPECT_EQ(read_file(d / "kept"), "newer");
}

TEST(AtomicWrite, FailedWriteKeepsTheOldContentAndNoTempFile) {
  ScratchDir d;
  const Path target = d / "vault.cord";
  write_file(target, "old");

  // Inject a write failure: a file-size limit makes write() fail with EFBIG.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  auto r = write_atomic(target, bytes("new content longer than four bytes"), FileAccess::KeepTarget);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  ASSERT_FALSE(r);
  ASSERT_TRUE(r.error().kind() == StoreError::Io);
  const StoreError& io = r.error();
  EXPECT_EQ(io.path().parent_path(), d.path());
  EXPECT_TRUE(std::regex_match(io.path().filename().string(), kTempName)) << io.path();
  EXPECT_EQ(io.io_error().message(), "File too large (os error 27)");
  EXPECT_EQ(read_file(target), "old");
  EXPECT_EQ(entries(d.path()), std::vector<std::string>{"vault.cord"});
}

TEST(AtomicWrite, FailedRenameNamesTheTargetAndRemovesTheTempFile) {
  ScratchDir d;
  std::filesystem::create_directories(d / "target/inside");
  auto r = write_atomic(d / "target", bytes("x"), FileAccess::Workspace);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "I/O error at " + (d / "target").string() + ": Is a directory (os error 21)");
  EXPECT_EQ(entries(d.path()), std::vector<std::string>{"target"});
}

TEST(AtomicWrite, FolderThatCannotBeCreatedIsNamed) {
  ScratchDir d;
  write_file(d / "plain", "x");
  auto r = write_atomic(d / "plain/sub/f.cord", bytes("x"), FileAccess::Workspace);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "I/O error at " + (d / "plain/sub").string() + ": Not a directory (os error 20)");

  // A file standing where the folder should be.
  auto blocked = write_atomic(d / "plain/f.cord", bytes("x"), FileAccess::Workspace);
  ASSERT_FALSE(blocked);
  EXPECT_EQ(blocked.error().message(), "I/O error at " + (d / "plain").string() + ": File exists (os error 17)");
}

TEST(RemoveIfPresent, MissingCountsAsRemoved) {
  ScratchDir d;
  write_file(d / "f", "x");
  std::filesystem::create_directory(d / "dir");
  EXPECT_TRUE(remove_file_if_present(d / "f"));
  EXPECT_FALSE(std::filesystem::exists(d / "f"));
  EXPECT_TRUE(remove_file_if_present(d / "f"));
  EXPECT_TRUE(remove_file_if_present(d / "no-dir/f"));

  auto dir = remove_file_if_present(d / "dir");
  ASSERT_FALSE(dir);
  EXPECT_EQ(dir.error().path(), d / "dir");
  EXPECT_EQ(dir.error().io_error().os_code(), EISDIR);
}

}  // namespace
}  // namespace ostrel::store
