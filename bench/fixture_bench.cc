// The fixture tool building a generated workspace: the scenario read, generate_vault's records
// signed, then encoded and written through the store (verified atomic write and read-back) into
// a temporary workspace. 262,144 records is the vault file's record limit. Reports the time per
// build, split into making the records (next to the generator alone) and writing the file, and
// the file's size.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fixture/scenario.h"
#include "support/fixture/workspace_writer.h"
#include "support/generate.h"
#include "support/hex.h"

namespace {

using namespace ostrel;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// {"identities": {"root": 01…01}, "generate": {"records": n}}: the root of generated vaults, so
// its root record is the generated one and the vault holds exactly n records.
fixture::Json generated_scenario(std::int64_t n) {
  fixture::Json s;
  s["identities"]["root"] = testing::to_hex(std::vector<std::uint8_t>(32, 1));
  s["generate"]["records"] = n;
  return s;
}

void BM_BuildGeneratedWorkspace(benchmark::State& state) {
  const fixture::Json scenario = generated_scenario(state.range(0));
  std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-fixture-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  const std::filesystem::path dir = pattern;
  const fixture::WorkspaceLocation location{dir / "ws", std::nullopt, dir / "state"};

  // The generator alone, once: what the tool adds to it is the rest of make_records_s.
  const auto g0 = Clock::now();
  benchmark::DoNotOptimize(testing::generate_vault(static_cast<std::size_t>(state.range(0))));
  state.counters["generate_vault_s"] = seconds_since(g0);

  double make_s = 0, write_s = 0;
  std::size_t bytes = 0, records = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    auto built = fixture::build_scenario(scenario);
    if (!built) {
      state.SkipWithError(built.error().message.c_str());
      break;
    }
    make_s += seconds_since(t0);
    const auto t1 = Clock::now();
    auto written = fixture::write_workspace(*built, location);
    if (!written) {
      state.SkipWithError(written.error().message.c_str());
      break;
    }
    write_s += seconds_since(t1);
    bytes = written->vault_bytes;
    records = written->records;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["records"] = static_cast<double>(records);
  state.counters["file_MiB"] = static_cast<double>(bytes) / (1 << 20);
  state.counters["make_records_s"] = make_s / n;
  state.counters["encode_write_s"] = write_s / n;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

BENCHMARK(BM_BuildGeneratedWorkspace)->Arg(16384)->Arg(262144)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

}  // namespace
