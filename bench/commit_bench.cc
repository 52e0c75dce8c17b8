// One committed vault write (journal, ratchet, vault, read-backs, journal deleted, every file and
// folder synced) of a small and of a 16,384-record vault, beside writing the same vault bytes
// once with a single fsync. The fsync count comes from the linker wrapping fsync (see
// CMakeLists.txt): every call the library makes passes through the counter.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/ids.h"
#include "core/validate/ratchet_state.h"
#include "ops/commit.h"
#include "store/lock_file.h"
#include "store/ratchet_file.h"
#include "store/vault_file.h"
#include "support/generate.h"
#include "support/identities.h"

namespace {
std::atomic<std::int64_t> g_fsyncs{0};
}  // namespace

extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd) {
  g_fsyncs.fetch_add(1, std::memory_order_relaxed);
  return __real_fsync(fd);
}

namespace {

using namespace ostrel;
using Bytes = std::vector<std::uint8_t>;

Bytes encoded(const std::vector<core::VaultRecordV1>& records) {
  auto bytes = store::encode_vault_file(store::VaultRecords(records));
  if (!bytes) std::abort();
  return Bytes(bytes->begin(), bytes->end());
}

Bytes ratchet_with_counter(const HashValue& root, std::uint64_t counter) {
  validate::RatchetState state = validate::RatchetState::fresh(root);
  state.format_version = counter;
  auto bytes = store::encode_ratchet_file(state);
  if (!bytes) std::abort();
  return Bytes(bytes->begin(), bytes->end());
}

// A scratch workspace holding two states of one vault; each commit moves from one to the other.
struct Bench {
  std::filesystem::path dir;
  store::WorkspacePaths paths;
  HashValue root;
  Bytes vaults[2];
  Bytes ratchets[2];

  explicit Bench(std::size_t records)
      : dir(std::filesystem::temp_directory_path() / ("ostrel-commit-bench-" + std::to_string(::getpid()))),
        paths(store::WorkspacePaths::for_vault_file(dir / ".ostrel" / "vault.cord")) {
    paths.state_dir = dir / "state";
    testing::GeneratedVault generated = testing::generate_vault(records);
    root = generated.root_key_id;
    vaults[0] = encoded(generated.records);
    // The second state adds one record of the root's (seed 01…01).
    generated.records.push_back(testing::signed_record(
        testing::identity_of(1), core::EvolvingBody::raw(cord::ByteString(Bytes{0, 0, 0, 99, 1, 2, 3}))));
    vaults[1] = encoded(generated.records);
    ratchets[0] = ratchet_with_counter(root, 1);
    ratchets[1] = ratchet_with_counter(root, 2);
    std::filesystem::create_directories(paths.vault_dir);
    if (!store::write_vault(paths, vaults[0]) || !store::write_ratchet_bytes(paths, root, ratchets[0])) std::abort();
  }
  ~Bench() { std::filesystem::remove_all(dir); }
};

void BM_CommitVaultWrite(benchmark::State& state) {
  Bench bench(static_cast<std::size_t>(state.range(0)));
  auto state_lock = store::StateLock::acquire_exclusive(bench.paths, bench.root.bytes);
  auto workspace_lock = store::WorkspaceLock::acquire(bench.paths);
  auto vault_at = store::locate_vault(bench.paths);
  if (!state_lock || !workspace_lock || !vault_at) std::abort();
  std::size_t at = 0;
  std::int64_t fsyncs = 0;
  for (auto _ : state) {
    const std::size_t next = 1 - at;
    const std::int64_t before = g_fsyncs.load();
    auto done = ops::commit_vault_write(bench.paths, *vault_at, bench.root, store::kVaultMutationLabel, bench.vaults[at],
                                        bench.ratchets[at], bench.vaults[next], bench.ratchets[next]);
    fsyncs += g_fsyncs.load() - before;
    if (!done) state.SkipWithError(done.error().message().c_str());
    at = next;
  }
  state.counters["fsyncs"] = benchmark::Counter(static_cast<double>(fsyncs), benchmark::Counter::kAvgIterations);
  state.counters["vault_bytes"] = static_cast<double>(bench.vaults[0].size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bench.vaults[0].size()));
}
BENCHMARK(BM_CommitVaultWrite)->Arg(16)->Arg(16'384)->Unit(benchmark::kMillisecond);

// The floor: the same vault bytes written once to a fresh file with one fsync.
void BM_WriteOnceWithOneFsync(benchmark::State& state) {
  Bench bench(static_cast<std::size_t>(state.range(0)));
  const std::filesystem::path path = bench.dir / "plain.cord";
  std::int64_t fsyncs = 0;
  for (auto _ : state) {
    const std::int64_t before = g_fsyncs.load();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bench.vaults[0].data(), bench.vaults[0].size()) !=
                      static_cast<ssize_t>(bench.vaults[0].size()) ||
        ::fsync(fd) != 0 || ::close(fd) != 0) {
      state.SkipWithError("plain write failed");
    }
    fsyncs += g_fsyncs.load() - before;
  }
  state.counters["fsyncs"] = benchmark::Counter(static_cast<double>(fsyncs), benchmark::Counter::kAvgIterations);
  state.counters["vault_bytes"] = static_cast<double>(bench.vaults[0].size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bench.vaults[0].size()));
}
BENCHMARK(BM_WriteOnceWithOneFsync)->Arg(16)->Arg(16'384)->Unit(benchmark::kMillisecond);

}  // namespace
