// The keychain's folder, its files on disk (read bounds, magic, the root and user a file must
// name, private modes, verified writes) and its lock between processes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "keychain/files.h"
#include "keychain/layout.h"
#include "support/hex.h"
#include "support/keychain.h"
#include "support/scratch.h"

namespace ostrel::keychain {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

const std::vector<std::uint8_t> kRoot(32, 0x11);
const std::vector<std::uint8_t> kAlice(32, 0x22);
const std::vector<std::uint8_t> kBob(32, 0x33);
const HashValue kRootId(kRoot);
const UserId kAliceId{HashValue(kAlice)};
const UserId kBobId{HashValue(kBob)};

SealedIdentityV1 sealed_for(const std::vector<std::uint8_t>& user, std::size_t ciphertext_bytes = 52) {
  return SealedIdentityV1{.root = kRoot, .user = user, .kdf = testing::cheap_kdf(),
                          .salt = std::vector<std::uint8_t>(16, 1), .nonce = std::vector<std::uint8_t>(12, 2),
                          .ciphertext = std::vector<std::uint8_t>(ciphertext_bytes, 3)};
}

TEST(KeychainBaseDir, FollowsTheEnvironment) {
  struct Case {
    const char* name;
    std::optional<std::string> keychain_dir, appdata;
    std::optional<std::string> want;
  };
  const std::vector<Case> cases{
      {"relative keychain dir wins over APPDATA", "rel/kc", "/appdata", "rel/kc"},
      {"empty keychain dir is used as it is", "", "/appdata", ""},
      {"APPDATA gets the Ostrel folder", std::nullopt, "/appdata", "/appdata/Ostrel"},
      {"neither is the passphrase backend's failure", std::nullopt, std::nullopt, std::nullopt},
  };
  ScopedEnv home("HOME", "/home/x"), xdg("XDG_DATA_HOME", "/xdg");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv kd("OSTREL_KEYCHAIN_DIR", c.keychain_dir), ad("APPDATA", c.appdata);
    auto got = base_dir();
    if (c.want) {
      ASSERT_TRUE(got);
      EXPECT_EQ(got->native(), *c.want);
    } else {
      ASSERT_FALSE(got);
      EXPECT_EQ(got.error().kind(), KeychainError::BackendUnavailable);
      EXPECT_EQ(got.error().message(),
                "passphrase identity keychain backend is unavailable: OSTREL_KEYCHAIN_DIR, APPDATA, XDG_DATA_HOME, "
                "and HOME are unset");
    }
  }
}

TEST(KeychainLayout, NamesFilesByHex) {
  const std::vector<std::uint8_t> root{0xab}, user{1, 2};
  EXPECT_EQ(identity_path("base", HashValue(root), UserId(HashValue(user))),
            std::filesystem::path("base/ab/identities/0102.cord"));
  EXPECT_EQ(current_user_path("base", HashValue(root)), std::filesystem::path("base/ab/current-user.cord"));
  EXPECT_EQ(combined_keychain_path("base", HashValue(root)), std::filesystem::path("base/ab/keychain.cord"));
  EXPECT_EQ(legacy_keychain_path("base", UserId(HashValue(user))), std::filesystem::path("base/0102/keychain.cord"));
  EXPECT_EQ(root_lock_path("base", HashValue(root)), std::filesystem::path("base/ab/keychain.lock"));
}

TEST(ReadIdentity, MissingFileOrFolderIsNoIdentity) {
  ScratchDir dir;
  auto got = read_identity(identity_path(dir.path(), kRootId, kAliceId), kRootId, kAliceId);
  ASSERT_TRUE(got) << got.error().message();
  EXPECT_FALSE(*got);
}

TEST(ReadIdentity, RefusesWhatIsNotThisUsersIdentity) {
  ScratchDir dir;
  const auto path = identity_path(dir.path(), kRootId, kBobId);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    KeychainError::Kind kind;
    std::string message;
  };
  std::vector<std::uint8_t> magic_only = testing::bytes_of(std::string_view("ostrel-identity\0", 16));
  std::vector<std::uint8_t> oversize(kMaxIdentityFileBytes + 1, 0);
  const std::string at = "keychain file " + path.string() + " is invalid: ";
  const std::vector<Case> cases{
      {"alice's file copied under bob's name", testing::identity_file(sealed_for(kAlice)), KeychainError::InvalidFile,
       at + "identity does not match its root and user path"},
      {"no magic", testing::current_user_file({kBob, std::nullopt}), KeychainError::InvalidFile,
       at + "missing identity magic prefix"},
      {"magic alone", magic_only, KeychainError::Cord, "Cord error: Unexpected end of input"},
      {"one byte over the bound", oversize, KeychainError::Io,
       "I/O error at " + path.string() + ": file is 1048577 bytes, above the supported maximum of 1048576"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::plant_file(path, c.bytes);
    auto got = read_identity(path, kRootId, kBobId);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().kind(), c.kind);
    EXPECT_EQ(got.error().message(), c.message);
  }
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  auto folder = read_identity(path, kRootId, kBobId);
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.error().message(), "I/O error at " + path.string() + ": not a regular file");
}

TEST(WriteIdentity, CreatesPrivateFoldersAndFilesAndReadsBack) {
  testing::ScopedUmask umask(0);
  ScratchDir dir;
  const auto base = dir / "kc";
  const auto path = identity_path(base, kRootId, kAliceId);
  ASSERT_TRUE(write_identity(path, kRootId, kAliceId, sealed_for(kAlice)));
  EXPECT_EQ(testing::mode_of(base), 0700u);
  EXPECT_EQ(testing::mode_of(path.parent_path().parent_path()), 0700u);
  EXPECT_EQ(testing::mode_of(path.parent_path()), 0700u);
  EXPECT_EQ(testing::mode_of(path), 0600u);
  auto back = read_identity(path, kRootId, kAliceId);
  ASSERT_TRUE(back && *back);
  EXPECT_EQ(**back, sealed_for(kAlice));
}

TEST(WriteIdentity, RefusalsTouchNothing) {
  ScratchDir dir;
  const auto path = identity_path(dir.path(), kRootId, kAliceId);
  auto other_root = sealed_for(kAlice);
  other_root.root[0] ^= 1;
  auto refused = write_identity(path, kRootId, kAliceId, other_root);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().reason(), KeychainError::kIdentityPathMismatch);
  EXPECT_FALSE(std::filesystem::exists(path.parent_path()));

  // The largest identity file fits exactly; one byte more is refused and the old file stays.
  const SealedIdentityV1 largest = sealed_for(kAlice, kMaxIdentityFileBytes - 161);
  ASSERT_TRUE(write_identity(path, kRootId, kAliceId, largest));
  EXPECT_EQ(std::filesystem::file_size(path), kMaxIdentityFileBytes);
  auto too_large = write_identity(path, kRootId, kAliceId, sealed_for(kAlice, kMaxIdentityFileBytes - 160));
  ASSERT_FALSE(too_large);
  EXPECT_EQ(too_large.error().reason(), KeychainError::kIdentityTooLarge);
  EXPECT_EQ(**read_identity(path, kRootId, kAliceId), largest);
}

TEST(CurrentUserFile, RoundTripsAndRefusesOtherMagic) {
  ScratchDir dir;
  const auto path = current_user_path(dir.path(), kRootId);
  EXPECT_FALSE(*read_current_user_file(path));
  const CurrentUserV1 selector{kAlice, "alice"};
  ASSERT_TRUE(write_current_user(path, selector));
  EXPECT_EQ(**read_current_user_file(path), selector);
  for (const auto& bytes : {std::vector<std::uint8_t>(19, 'o'), testing::identity_file(sealed_for(kAlice))}) {
    testing::plant_file(path, bytes);
    auto got = read_current_user_file(path);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().reason(), KeychainError::kMissingCurrentUserMagic);
  }
}

TEST(KeychainFile, MissingIsEmptyAndAnotherMagicIsACordError) {
  ScratchDir dir;
  const auto path = combined_keychain_path(dir.path(), kRootId);
  auto empty = read_keychain_file(path);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
  EXPECT_FALSE(*path_exists(path));
  testing::plant_file(path, testing::identity_file(sealed_for(kAlice)));
  EXPECT_TRUE(*path_exists(path));
  auto got = read_keychain_file(path);
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind(), KeychainError::Cord);
  EXPECT_EQ(got.error().message(), "Cord error: Cord could not validate: not a ostrel keychain file (missing magic prefix)");
}

// A child process that takes the lock, says so through a pipe, holds it for `hold`, then exits.
class LockHolder {
 public:
  LockHolder(const std::filesystem::path& lock_file, std::chrono::milliseconds hold) {
    int fds[2];
    if (::pipe(fds) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      auto lock = acquire_lock(lock_file);
      const char ok = lock ? 1 : 0;
      (void)::write(fds[1], &ok, 1);
      ::usleep(static_cast<useconds_t>(hold.count() * 1000));
      ::_exit(0);
    }
    ::close(fds[1]);
    char ok = 0;
    if (::read(fds[0], &ok, 1) != 1 || ok != 1) std::abort();
    ::close(fds[0]);
  }
  ~LockHolder() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }

 private:
  pid_t pid_ = -1;
};

TEST(KeychainLock, WaitsForAnotherProcess) {
  ScratchDir dir;
  const auto lock_file = root_lock_path(dir.path(), kRootId);
  LockHolder holder(lock_file, std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  auto lock = acquire_lock(lock_file);
  ASSERT_TRUE(lock) << lock.error().message();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_TRUE(lock->is_held());
}

TEST(KeychainLock, TimesOutAfterWholeSleeps) {
  ScratchDir dir;
  const auto lock_file = root_lock_path(dir.path(), kRootId);
  LockHolder holder(lock_file, std::chrono::milliseconds(700));
  const auto start = std::chrono::steady_clock::now();
  // Tries at 0, 100, 200 and 300 ms: the wait of 250 ms runs out between two tries, and the
  // sleep before the last one is not cut short.
  auto lock = acquire_lock(lock_file, std::chrono::milliseconds(250));
  ASSERT_FALSE(lock);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(lock.error().kind(), KeychainError::LockTimeout);
  EXPECT_EQ(lock.error().message(), "timed out waiting for keychain lock at " + lock_file.string());
}

// A keychain.lock left read-only (by a copy, a restore, or another tool) must not lock its owner
// out of the keychain: a lock needs no write access.
TEST(KeychainLock, LockFileThatMayOnlyBeReadStillLocks) {
  ScratchDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  const auto lock_file = root_lock_path(dir.path(), kRootId);
  std::filesystem::create_directories(lock_file.parent_path());
  testing::write_file(lock_file, "");
  ASSERT_EQ(::chmod(lock_file.c_str(), 0444), 0);
  const int result = testing::run_as_reader_only([&] {
    auto lock = acquire_lock(lock_file);
    if (lock) return 0;
    if (lock.error().kind() != KeychainError::Io) return EBUSY;
    return lock.error().io_error().os_code().value_or(EIO);
  });
  if (result == testing::kCannotDrop) GTEST_SKIP() << "cannot run as another user here";
  EXPECT_EQ(result, 0) << testing::reader_result_text(result);
  EXPECT_EQ(testing::mode_of(lock_file), 0444u);
}

TEST(KeychainLock, FolderThatCannotBeMadeIsNamed) {
  testing::ScopedUmask umask(0);
  ScratchDir dir;
  testing::write_file(dir / "blocker", "x");
  const auto lock_file = dir / "blocker" / "keychain.lock";
  auto lock = acquire_lock(lock_file);
  ASSERT_FALSE(lock);
  EXPECT_EQ(lock.error().kind(), KeychainError::Io);
  EXPECT_EQ(lock.error().path(), dir / "blocker");
  // Made ones are private.
  auto made = lock_root(dir / "kc", kRootId);
  ASSERT_TRUE(made);
  EXPECT_EQ(testing::mode_of(dir / "kc"), 0700u);
  EXPECT_EQ(testing::mode_of(root_lock_path(dir / "kc", kRootId)), 0600u);
  EXPECT_EQ(std::filesystem::file_size(root_lock_path(dir / "kc", kRootId)), 0u);
}

}  // namespace
}  // namespace ostrel::keychain
