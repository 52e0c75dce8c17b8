// Two processes writing the same vault at once: the locks and the refresh inside them make every
// write build on the other's, so nothing is lost, neither whole secrets nor fields of one secret.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <functional>
#include <string>
#include <thread>

#include "ops/list_secrets.h"
#include "ops/read_secret.h"
#include "ops/write_secret.h"
#include "unit/ops/scene.h"

namespace ostrel::ops::test {
namespace {

constexpr int kWrites = 200;

// Runs `writer(name)` in two child processes at once; each exits 0 only when every write
// succeeded.
void run_two_writers(const std::function<bool(const std::string&)>& writer) {
  pid_t children[2];
  for (int i = 0; i < 2; ++i) {
    children[i] = ::fork();
    ASSERT_GE(children[i], 0);
    if (children[i] == 0) ::_exit(writer(i == 0 ? "a" : "b") ? 0 : 1);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
  }
}

bool failed(const OpsError& e) {
  std::fprintf(stderr, "writer failed: %s\n", e.message().c_str());
  return false;
}

// Runs one write, then pauses for a quarter of the time it took (at least 1 ms), as any real
// caller does between writes: the store's lock waits poll every 100 ms, so a writer that let go
// only for an instant would leave the other waiting out the whole lock wait on a slow machine.
template <class Write>
bool paced(Write&& write) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = write();
  const auto took = std::chrono::steady_clock::now() - start;
  std::this_thread::sleep_for(std::max<std::chrono::steady_clock::duration>(took / 4, std::chrono::milliseconds(1)));
  return ok;
}

// The workspace in memory when the system has a memory file system: 400 commits' syncs would
// otherwise take most of the time.
class FastWorkspace {
 public:
  OpsWorkspace& operator*() { return ws_; }
  OpsWorkspace* operator->() { return &ws_; }

 private:
  static std::optional<std::string> memory_dir() {
    if (std::filesystem::is_directory("/dev/shm")) return "/dev/shm";
    const char* tmp = std::getenv("TMPDIR");
    return tmp ? std::optional<std::string>(tmp) : std::nullopt;
  }
  testing::ScopedEnv tmp_{"TMPDIR", memory_dir()};
  OpsWorkspace ws_;
};

Json team() {
  Json s = with_identities(fixture::test::kTeamRecords);
  s["ratchet"] = "derived";
  return s;
}

TEST(ConcurrentWriters, DifferentSecretsLoseNothing) {
  FastWorkspace ws;
  ws->write(team());
  const store::WorkspacePaths paths = ws->paths();
  run_two_writers([&](const std::string& name) {
    auto session = session_of(paths, 2);
    if (!session) return failed(session.error());
    for (int i = 0; i < kWrites; ++i) {
      const core::SecretSelectorV1 selector{{"app", name + std::to_string(i)}, {}};
      const bool ok = paced([&] {
        auto w = set_secret(*session, selector, testing::bytes(std::to_string(i)));
        return w ? true : failed(w.error());
      });
      if (!ok) return false;
    }
    return true;
  });
  VaultSession reader = must_open(paths, 3);
  EXPECT_EQ(list_secrets(reader, nullptr).size(), 2u * kWrites);
  for (const char* name : {"a", "b"}) {
    auto read = read_secret(reader, core::SecretSelectorV1{{"app", std::string(name) + "199"}, {}});
    ASSERT_TRUE(read) << read.error().message();
  }
}

TEST(ConcurrentWriters, FieldEditsOfOneSecretLoseNoField) {
  FastWorkspace ws;
  ws->write(team());
  const store::WorkspacePaths paths = ws->paths();
  const core::SecretSelectorV1 shared{{"app", "shared"}, {}};
  {
    VaultSession alice = must_open(paths, 2);
    ASSERT_TRUE(set_secret(alice, shared, testing::bytes("v")));
  }
  run_two_writers([&](const std::string& name) {
    auto session = session_of(paths, 2);
    if (!session) return failed(session.error());
    for (int i = 0; i < kWrites; ++i) {
      const bool ok = paced([&] {
        auto edit = set_secret_field(*session, shared, name + std::to_string(i), testing::bytes("x"));
        return edit ? *edit == FieldEdit::Written : failed(edit.error());
      });
      if (!ok) return false;
    }
    return true;
  });
  VaultSession reader = must_open(paths, 3);
  auto read = read_secret(reader, shared);
  ASSERT_TRUE(read) << read.error().message();
  EXPECT_EQ(read->fields.size(), 2u * kWrites);
}

}  // namespace
}  // namespace ostrel::ops::test
