// Workspace paths, state-directory resolution and the check of the shared-temp fallback folder.
#include "store/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "store/lock_file.h"
#include "support/scratch.h"

namespace ostrel::store {
namespace {

using ostrel::testing::mode_of;
using ostrel::testing::ScopedEnv;
using ostrel::testing::ScopedUmask;
using ostrel::testing::ScratchDir;
using Path = std::filesystem::path;
using Env = std::optional<std::string>;

// Every variable the state directory depends on, set as given (nullopt: unset) for one scope.
struct StateEnv {
  ScopedEnv ostrel_state_dir, appdata, xdg_state_home, home, tmpdir;
  StateEnv(Env ostrel, Env app, Env xdg, Env home_dir, Env tmp)
      : ostrel_state_dir("OSTREL_STATE_DIR", std::move(ostrel)),
        appdata("APPDATA", std::move(app)),
        xdg_state_home("XDG_STATE_HOME", std::move(xdg)),
        home("HOME", std::move(home_dir)),
        tmpdir("TMPDIR", std::move(tmp)) {}
};

std::string uid_text() { return std::to_string(::geteuid()); }

TEST(WorkspacePaths, ForVaultFile) {
  const StateEnv env("/state", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  struct Case {
    Path vault_file;
    Path root, dir, lock;
  };
  const Case cases[] = {
      {"x/.ostrel/vault.cord", "x", "x/.ostrel", "x/.ostrel/vault.cord.lock"},
      {"x/vault.cord", "x", "x", "x/vault.cord.lock"},
      // The name test is exact and case-sensitive.
      {"x/.Ostrel/vault.cord", "x/.Ostrel", "x/.Ostrel", "x/.Ostrel/vault.cord.lock"},
      {"x/.ostrelx/vault.cord", "x/.ostrelx", "x/.ostrelx", "x/.ostrelx/vault.cord.lock"},
      // Another file name still locks vault.cord.lock.
      {"x/other.cord", "x", "x", "x/vault.cord.lock"},
      // A bare name lives in the current directory, spelled as the empty path.
      {"vault.cord", "", "", "vault.cord.lock"},
      {".ostrel/vault.cord", "", ".ostrel", ".ostrel/vault.cord.lock"},
      {"/.ostrel/vault.cord", "/", "/.ostrel", "/.ostrel/vault.cord.lock"},
      {"/vault.cord", "/", "/", "/vault.cord.lock"},
      // "." inside the path does not hide the folder's name.
      {"x/.ostrel/./vault.cord", "x", "x/.ostrel", "x/.ostrel/vault.cord.lock"},
      {"./.ostrel/vault.cord", ".", "./.ostrel", "./.ostrel/vault.cord.lock"},
  };
  for (const Case& c : cases) {
    const auto p = WorkspacePaths::for_vault_file(c.vault_file);
    EXPECT_EQ(p.workspace_root, c.root) << c.vault_file;
    EXPECT_EQ(p.vault_dir, c.dir) << c.vault_file;
    EXPECT_EQ(p.vault_file, c.vault_file);
    EXPECT_EQ(p.lock_file, c.lock) << c.vault_file;
    EXPECT_EQ(p.state_dir, "/state");
  }
}

TEST(WorkspacePaths, ConstructorDefaultsTheVaultFile) {
  const StateEnv env("/state", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  const WorkspacePaths p("/w", "/w/.ostrel");
  EXPECT_EQ(p.vault_file, "/w/.ostrel/vault.cord");
  EXPECT_EQ(p.lock_file, "/w/.ostrel/vault.cord.lock");
  const WorkspacePaths named("/w", "/w/.ostrel", Path("/elsewhere/v.cord"));
  EXPECT_EQ(named.vault_file, "/elsewhere/v.cord");
  EXPECT_EQ(named.lock_file, "/w/.ostrel/vault.cord.lock");
}

TEST(StateDir, ResolutionOrder) {
  const std::string uid = uid_text();
  struct Case {
    const char* name;
    Env ostrel, appdata, xdg, home, tmpdir;
    Path want;
    bool in_shared_temp;
  };
  const Case cases[] = {
      {"explicit wins", "/s", "/a", "/x", "/h", "/t", "/s", false},
      {"explicit empty stays empty", "", "/a", "/x", "/h", "/t", "", false},
      {"explicit relative stays relative", "rel/dir", "/a", std::nullopt, std::nullopt, std::nullopt, "rel/dir", false},
      {"appdata", std::nullopt, "/a", "/x", "/h", "/t", "/a/Ostrel", false},
      {"xdg", std::nullopt, std::nullopt, "/x", "/h", "/t", "/x/Ostrel", false},
      {"relative xdg ignored", std::nullopt, std::nullopt, "x", "/h", "/t", "/h/.local/state/Ostrel", false},
      {"empty xdg ignored", std::nullopt, std::nullopt, "", "/h", "/t", "/h/.local/state/Ostrel", false},
      {"home", std::nullopt, std::nullopt, std::nullopt, "/h", "/t", "/h/.local/state/Ostrel", false},
      {"empty home ignored", std::nullopt, std::nullopt, std::nullopt, "", "/t", "/t/Ostrel-" + uid, true},
      {"temp dir per user", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "/t", "/t/Ostrel-" + uid, true},
      {"default temp dir", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, "/tmp/Ostrel-" + uid, true},
      {"empty temp dir", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "", "/tmp/Ostrel-" + uid, true},
  };
  for (const Case& c : cases) {
    const StateEnv env(c.ostrel, c.appdata, c.xdg, c.home, c.tmpdir);
    const StateDirLocation loc = locate_state_dir();
    EXPECT_EQ(loc.dir, c.want) << c.name;
    EXPECT_EQ(loc.in_shared_temp, c.in_shared_temp) << c.name;
    EXPECT_EQ(state_dir(), c.want) << c.name;
    const WorkspacePaths p = WorkspacePaths::for_vault_file("w/vault.cord");
    EXPECT_EQ(p.state_dir, c.want) << c.name;
    EXPECT_EQ(p.state_dir_in_shared_temp, c.in_shared_temp) << c.name;
  }
}

TEST(StateDir, FixedWhenThePathsAreBuilt) {
  auto env = std::make_unique<StateEnv>("/first", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  const WorkspacePaths p = WorkspacePaths::for_vault_file("w/vault.cord");
  const WorkspacePaths copy = p;
  env.reset();  // restore before setting again
  env = std::make_unique<StateEnv>("/second", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  EXPECT_EQ(p.state_dir, "/first");
  EXPECT_EQ(copy, p);
  EXPECT_EQ(WorkspacePaths::for_vault_file("w/vault.cord").state_dir, "/second");
}

TEST(StatePaths, NamesOfEveryStateFile) {
  const StateEnv env("/s", std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  const auto p = WorkspacePaths::for_vault_file("w/.ostrel/vault.cord");
  const std::vector<std::uint8_t> root(32, 0xab);
  std::string r;
  for (int i = 0; i < 32; ++i) r += "ab";
  EXPECT_EQ(p.ratchet_path(root), "/s/" + r + "/ratchet.cord");
  EXPECT_EQ(p.state_lock_path(root), "/s/" + r + "/state.lock");
  EXPECT_EQ(p.transaction_path(root), "/s/" + r + "/transaction.cord");
  EXPECT_EQ(p.join_commit_path(root), "/s/" + r + "/join-commit.cord");
  const std::vector<std::uint8_t> user = {0x01, 0xfe};
  EXPECT_EQ(p.cache_path(root, user), "/s/" + r + "/01fe/cache.cord");
  // Any length is written out in full, even none.
  EXPECT_EQ(p.ratchet_path({}), "/s/ratchet.cord");
}

TEST(StatePaths, EmptyStateDirIsRelativeToTheCurrentDirectory) {
  const StateEnv env("", "/appdata", std::nullopt, std::nullopt, std::nullopt);
  const auto p = WorkspacePaths::for_vault_file("w/vault.cord");
  const std::vector<std::uint8_t> root = {0x00, 0x10};
  EXPECT_EQ(p.ratchet_path(root), "0010/ratchet.cord");
}

// The per-user folder under a shared temporary directory is only used when it is private.
class PrivateStateDir : public ::testing::Test {
 protected:
  ScratchDir tmp;
  StateEnv env{std::nullopt, std::nullopt, std::nullopt, std::nullopt, tmp.path().string()};
  ScopedUmask umask{022};
  WorkspacePaths paths = WorkspacePaths::for_vault_file(tmp / "w/vault.cord");
  Path dir = tmp / ("Ostrel-" + uid_text());

  std::string refusal() const {
    return "I/O error at " + dir.string() + ": state directory is not private to this user";
  }
};

TEST_F(PrivateStateDir, CreatedPrivateWhenMissing) {
  ASSERT_TRUE(paths.state_dir_in_shared_temp);
  ASSERT_EQ(paths.state_dir, dir);
  ASSERT_TRUE(prepare_state_dir(paths));
  EXPECT_EQ(mode_of(dir), 0700u);
  // A second check of the folder it made passes.
  EXPECT_TRUE(prepare_state_dir(paths));
}

TEST_F(PrivateStateDir, RefusedUnlessAPrivateDirectoryOfThisUser) {
  ScratchDir elsewhere;
  ::chmod(elsewhere.path().c_str(), 0700);
  struct Case {
    const char* name;
    void (*plant)(const Path& dir, const Path& elsewhere);
  };
  const Case cases[] = {
      {"link to a private folder",
       [](const Path& d, const Path& e) { std::filesystem::create_directory_symlink(e, d); }},
      {"dangling link", [](const Path& d, const Path&) { std::filesystem::create_symlink("/nonexistent-ostrel", d); }},
      {"group readable", [](const Path& d, const Path&) { ::mkdir(d.c_str(), 0700); ::chmod(d.c_str(), 0750); }},
      {"other searchable", [](const Path& d, const Path&) { ::mkdir(d.c_str(), 0700); ::chmod(d.c_str(), 0701); }},
      {"world writable sticky", [](const Path& d, const Path&) { ::mkdir(d.c_str(), 0700); ::chmod(d.c_str(), 01777); }},
      {"a regular file", [](const Path& d, const Path&) { ostrel::testing::write_file(d, "x"); ::chmod(d.c_str(), 0600); }},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(dir);
    c.plant(dir, elsewhere.path());
    auto r = prepare_state_dir(paths);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().message(), refusal()) << c.name;
    EXPECT_EQ(r.error().path(), dir) << c.name;
  }
  // Nothing was created through the link.
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
}

TEST_F(PrivateStateDir, RefusedWhenOwnedByAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "changing a folder's owner needs root";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(::chown(dir.c_str(), 12345, 12345), 0);
  auto r = prepare_state_dir(paths);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), refusal());
}

TEST_F(PrivateStateDir, StateLockChecksTheFolderAndKeepsItsFilesPrivate) {
  const std::vector<std::uint8_t> root = {0xaa, 0xbb};
  std::filesystem::create_directory_symlink(tmp / "w", dir);
  auto refused = StateLock::acquire_shared(paths, root);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message(), refusal());
  EXPECT_FALSE(std::filesystem::exists(tmp / "w"));

  std::filesystem::remove(dir);
  auto lock = StateLock::acquire_exclusive(paths, root);
  ASSERT_TRUE(lock) << lock.error().message();
  EXPECT_EQ(mode_of(dir), 0700u);
  EXPECT_EQ(mode_of(dir / "aabb"), 0700u);
  EXPECT_EQ(mode_of(dir / "aabb/state.lock"), 0600u);
}

TEST(PrivateStateDirCheck, OtherStateDirectoriesAreNotTouched) {
  ScratchDir tmp;
  const StateEnv env(std::nullopt, std::nullopt, std::nullopt, tmp.path().string(), std::nullopt);
  const auto p = WorkspacePaths::for_vault_file(tmp / "w/vault.cord");
  ASSERT_FALSE(p.state_dir_in_shared_temp);
  EXPECT_TRUE(prepare_state_dir(p));
  EXPECT_FALSE(std::filesystem::exists(p.state_dir));
}

}  // namespace
}  // namespace ostrel::store
