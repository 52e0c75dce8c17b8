// The vault operations on generated vaults of 16,384 and 262,144 records: opening cold (every
// signature checked) and warm (the signatures the verification cache lists skipped), next to
// decoding the same file and hashing its records; read_secret next to one bare HPKE open; and
// set_secret (one record added and committed through the journal) next to a warm open. The
// set_secret vaults leave room below the 262,144-record limit for the records the runs add.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sodium.h>

#include "core/records.h"
#include "crypto/domain_hash.h"
#include "crypto/hpke.h"
#include "ops/read_secret.h"
#include "ops/session.h"
#include "ops/write_secret.h"
#include "store/vault_file.h"
#include "support/fixture/scenario.h"
#include "support/fixture/workspace_writer.h"
#include "support/hex.h"
#include "support/identities.h"

namespace {

using namespace ostrel;

// A generated workspace in a temporary folder, removed at exit: `records` records in all, the
// last one a secret the root (fill 1, the generator's root) can read, and the root's
// verification cache written.
struct GeneratedWorkspace {
  std::filesystem::path dir;
  store::WorkspacePaths paths;
  crypto::Identity root = testing::identity_of(1);
};

// Removes the workspaces when the program ends.
struct Cleanup {
  std::vector<std::filesystem::path> dirs;
  ~Cleanup() {
    std::error_code ec;
    for (const auto& d : dirs) std::filesystem::remove_all(d, ec);
  }
};

const core::SecretSelectorV1 kBench{{"bench", "secret"}, {}};

store::CurrentUserLookup root_is_current(const UserId& root) {
  return [root](const HashValue&) -> std::optional<UserId> { return root; };
}

// Built once per size and kept for every benchmark of that size.
GeneratedWorkspace* workspace(std::int64_t records) {
  static std::map<std::int64_t, std::unique_ptr<GeneratedWorkspace>> made;
  static Cleanup cleanup;
  auto& slot = made[records];
  if (slot) return slot.get();
  std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-ops-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  cleanup.dirs.emplace_back(pattern);
  fixture::Json scenario;
  scenario["identities"]["root"] = testing::to_hex(std::vector<std::uint8_t>(32, 1));
  scenario["generate"]["records"] = records - 1;
  scenario["ratchet"] = "derived";
  auto built = fixture::build_scenario(scenario);
  const fixture::WorkspaceLocation location{std::filesystem::path(pattern) / "ws", std::nullopt,
                                            std::filesystem::path(pattern) / "state"};
  if (!built || !fixture::write_workspace(*built, location)) std::abort();
  slot = std::make_unique<GeneratedWorkspace>(GeneratedWorkspace{pattern, fixture::workspace_paths(location)});
  // The root's session writes its cache and the secret the reads open.
  auto open = ops::OpenVault::open(slot->paths, root_is_current(slot->root.user_id));
  if (!open) std::abort();
  auto session = ops::VaultSession::establish(std::move(*open), slot->root.clone());
  if (!session || !ops::set_secret(*session, kBench, testing::bytes_of("value"))) std::abort();
  return slot.get();
}

void report(benchmark::State& state, const GeneratedWorkspace& ws) {
  auto bytes = store::read_vault_bytes(ws.paths);
  auto records = bytes ? store::decode_vault_file(*bytes) : std::unexpected(CoreError::validation("unreadable"));
  state.counters["file_MiB"] = bytes ? static_cast<double>(bytes->size()) / (1 << 20) : 0;
  state.counters["records"] = records ? static_cast<double>(records->size()) : 0;
}

void BM_OpenCold(benchmark::State& state) {
  GeneratedWorkspace* ws = workspace(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(ops::OpenVault::open(ws->paths, store::CurrentUserLookup{}));
  report(state, *ws);
}

void BM_OpenWarm(benchmark::State& state) {
  GeneratedWorkspace* ws = workspace(state.range(0));
  const store::CurrentUserLookup lookup = root_is_current(ws->root.user_id);
  for (auto _ : state) {
    auto open = ops::OpenVault::open(ws->paths, lookup);
    if (!open || !open->cache_signer) state.SkipWithError("the cache was not used");
    benchmark::DoNotOptimize(open);
  }
  report(state, *ws);
}

// What a warm open cannot avoid: reading and decoding the file and hashing every record.
void BM_DecodeAndHash(benchmark::State& state) {
  GeneratedWorkspace* ws = workspace(state.range(0));
  for (auto _ : state) {
    auto bytes = store::read_vault_bytes(ws->paths);
    auto records = store::decode_vault_file(std::make_shared<const std::vector<std::uint8_t>>(std::move(*bytes)));
    for (const core::VaultRecordV1& r : *records) benchmark::DoNotOptimize(core::record_hash(r));
  }
  report(state, *ws);
}

// The floor a warm open is held against: reading the file and one SHA-256 over each record's
// bytes, found by their three length prefixes; nothing decoded, no domain framing. With
// libsodium's portable SHA-256 (the system's hash before it took libcrypto's) and with the
// library's own hash.
template <bool kLibsodium>
void BM_ReadAndHashRecords(benchmark::State& state) {
  GeneratedWorkspace* ws = workspace(state.range(0));
  auto be32 = [](const std::uint8_t* p) {
    return (std::size_t{p[0]} << 24) | (std::size_t{p[1]} << 16) | (std::size_t{p[2]} << 8) | std::size_t{p[3]};
  };
  for (auto _ : state) {
    auto bytes = store::read_vault_bytes(ws->paths);
    if (!bytes) state.SkipWithError("unreadable");
    const std::uint8_t* p = bytes->data() + 13 + 8;  // magic, variant, count
    const std::uint8_t* end = bytes->data() + bytes->size();
    std::size_t records = 0;
    while (p < end) {
      const std::uint8_t* record = p;
      for (int field = 0; field < 3; ++field) p += 4 + be32(p);
      if (kLibsodium) {
        std::uint8_t digest[crypto_hash_sha256_BYTES];
        crypto_hash_sha256(digest, record, static_cast<unsigned long long>(p - record));
        benchmark::DoNotOptimize(digest);
      } else {
        benchmark::DoNotOptimize(crypto::domain_hash("bench", std::span<const std::uint8_t>(record, p)));
      }
      ++records;
    }
    benchmark::DoNotOptimize(records);
  }
  report(state, *ws);
}
void BM_ReadAndSha256Records(benchmark::State& state) { BM_ReadAndHashRecords<true>(state); }
void BM_ReadAndDomainHashRecords(benchmark::State& state) { BM_ReadAndHashRecords<false>(state); }

void BM_ReadSecret(benchmark::State& state) {
  GeneratedWorkspace* ws = workspace(state.range(0));
  auto open = ops::OpenVault::open(ws->paths, root_is_current(ws->root.user_id));
  auto session = ops::VaultSession::establish(std::move(*open), ws->root.clone());
  for (auto _ : state) {
    auto read = ops::read_secret(*session, kBench);
    if (!read) state.SkipWithError(read.error().message().c_str());
    benchmark::DoNotOptimize(read);
  }
}

void BM_HpkeOpenOnce(benchmark::State& state) {
  const crypto::Identity id = testing::identity_of(1);
  const std::vector<std::uint8_t> context(64, 7), key(32, 9);
  const auto sealed = *crypto::hpke::seal(id.hpke_public_key, context, context, key);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        crypto::hpke::open(sealed.encapsulated_key, id.keys.hpke_private_key, context, context, sealed.ciphertext));
  }
}

void BM_SetSecret(benchmark::State& state) {
  GeneratedWorkspace* ws = workspace(state.range(0));
  auto open = ops::OpenVault::open(ws->paths, root_is_current(ws->root.user_id));
  auto session = ops::VaultSession::establish(std::move(*open), ws->root.clone());
  for (auto _ : state) {
    auto written = ops::set_secret(*session, kBench, testing::bytes_of("value"));
    if (!written) state.SkipWithError(written.error().message().c_str());
  }
  report(state, *ws);
}

// 262,144 is the record limit: the set_secret vault of that size leaves room for its writes.
BENCHMARK(BM_OpenCold)->Arg(16384)->Arg(262144)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_OpenWarm)->Arg(16384)->Arg(262144)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_DecodeAndHash)->Arg(16384)->Arg(262144)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ReadAndSha256Records)->Arg(16384)->Arg(262144)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ReadAndDomainHashRecords)->Arg(16384)->Arg(262144)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ReadSecret)->Arg(16384)->Arg(262144)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HpkeOpenOnce)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetSecret)->Arg(16384)->Arg(262128)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(8);

}  // namespace
