// A write replaces only the file its session read. Whoever may write the vault's folder can swap
// vault.cord (or a state file) for a link to some other file while a commit runs; the commit
// must then neither write through the link nor rename over what now stands at the name. Each case
// swaps the name at a step of the commit, the moment a real attacker races for.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ops/write_secret.h"
#include "platform/test_hooks.h"
#include "unit/ops/scene.h"

namespace ostrel::ops::test {
namespace {

namespace fs = std::filesystem;
using testing::bytes;

const core::SecretSelectorV1 kNew{{"app", "new"}, {}};
const std::string kPrecious = "ssh-ed25519 AAAA precious\n";

// Runs `swap` once, when `step` is reached for a file named `file_name`.
class SwapAt {
 public:
  SwapAt(std::string step, std::string file_name, std::function<void()> swap) {
    platform::set_step_observer([this, step = std::move(step), file_name = std::move(file_name),
                                 swap = std::move(swap)](std::string_view at, const fs::path& subject) {
      if (done_ || at != step || subject.filename() != file_name) return;
      done_ = true;
      swap();
    });
  }
  ~SwapAt() { platform::set_step_observer(nullptr); }
  SwapAt(const SwapAt&) = delete;
  SwapAt& operator=(const SwapAt&) = delete;
  bool done() const { return done_; }

 private:
  bool done_ = false;
};

// Puts a link to `target` where `name` was.
void link_instead(const fs::path& name, const fs::path& target) {
  fs::remove(name);
  fs::create_symlink(target, name);
}

Json team() {
  Json s = with_identities(fixture::test::kTeamRecords);
  s["ratchet"] = "derived";
  return s;
}

TEST(VaultLocation, ALinkSwappedDuringACommitLeadsNowhereElse) {
  // vault.cord is a link to the real file when the session opens; the attacker points it at the
  // victim at a step of the commit. The commit writes the file it read, the victim stays as it was.
  struct Case {
    const char* step;
    const char* file_name;
  };
  const Case cases[] = {
      {"ratchet-written", "transaction.cord"},  // after the last read, before the vault's temp file
      {"temp-synced", "real.cord"},             // just before the vault's rename
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    OpsWorkspace ws;
    ws.write(team());
    const store::WorkspacePaths paths = ws.paths();
    const fs::path real = ws.dir() / "data" / "real.cord";
    const fs::path victim = ws.dir() / "victim";
    fs::create_directories(real.parent_path());
    fs::rename(paths.vault_file, real);
    fs::create_symlink(real, paths.vault_file);
    testing::write_file(victim, kPrecious);

    VaultSession alice = must_open(paths, 2);
    SwapAt swap(c.step, c.file_name, [&] { link_instead(paths.vault_file, victim); });
    auto written = set_secret(alice, kNew, bytes("v1"));
    ASSERT_TRUE(swap.done());
    ASSERT_TRUE(written) << written.error().message();

    EXPECT_EQ(testing::read_file(victim), kPrecious);
    EXPECT_EQ(fs::read_symlink(paths.vault_file), victim);  // the attacker's link is left alone
    EXPECT_EQ(testing::read_file(real), std::string(alice.open.vault_bytes->begin(), alice.open.vault_bytes->end()));
    EXPECT_EQ(testing::entries(real.parent_path()), std::vector<std::string>{"real.cord"});
  }
}

TEST(VaultLocation, AFileReplacedJustBeforeItsRenameIsRefused) {
  // The name the session resolved holds something else when the rename comes: a link to the
  // victim, or another regular file. The write is refused and the name keeps what stands there.
  struct Case {
    const char* name;
    const char* file_name;  // whose rename the swap precedes
    std::string want;
  };
  const Case cases[] = {
      {"vault", "vault.cord", "vault"},
      {"ratchet", "ratchet.cord", "ratchet"},
  };
  for (const Case& c : cases) {
    for (const bool to_link : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (to_link ? " swapped for a link" : " swapped for a file"));
      OpsWorkspace ws;
      ws.write(team());
      const store::WorkspacePaths paths = ws.paths();
      const fs::path target = c.want == "vault" ? paths.vault_file : ws.ratchet_file(scenario_root());
      const fs::path victim = ws.dir() / "victim";
      testing::write_file(victim, kPrecious);

      VaultSession alice = must_open(paths, 2);
      SwapAt swap("temp-synced", c.file_name, [&] {
        if (to_link) {
          link_instead(target, victim);
        } else {
          // Same bytes, another file (made while the old one still exists, so its inode differs).
          const fs::path planted = ws.dir() / "planted";
          testing::write_file(planted, testing::read_file(target));
          fs::rename(planted, target);
        }
      });
      auto written = set_secret(alice, kNew, bytes("v1"));
      ASSERT_TRUE(swap.done());
      ASSERT_FALSE(written);
      EXPECT_EQ(written.error().kind(), OpsError::PreconditionChanged);
      EXPECT_EQ(written.error().message(), OpsError::precondition_changed(c.want).message());

      EXPECT_EQ(testing::read_file(victim), kPrecious);
      EXPECT_EQ(fs::is_symlink(target), to_link);
      if (to_link) {
        EXPECT_EQ(fs::read_symlink(target), victim);
      }
      // No temporary file is left beside it.
      for (const std::string& entry : testing::entries(target.parent_path())) {
        EXPECT_EQ(entry.find(".tmp."), std::string::npos) << entry;
      }
    }
  }
}

}  // namespace
}  // namespace ostrel::ops::test
