// The state derivation on generated vaults of 1,024, 16,384 and 262,144 records (a few hundred
// users with entry points and handles, groups, grants, the rest secrets with three readers).
//   cold: every signature verified; compared with one bare libsodium Ed25519 verification.
//   warm: every hash already verified; compared with decoding the vault file and hashing every
//         record.
// Heap use is tracked by counting allocations, so the peak during a derivation is exact.
// OSTREL_BENCH_VAULT=path/to/vault.cord runs every case on that file instead.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sodium.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <new>

#include "core/record_sign.h"
#include "core/validate/derive.h"
#include "core/validate/trust.h"
#include "crypto/signing.h"
#include "store/vault_file.h"
#include "support/generate.h"

// The replaced operator new and delete below are a malloc/free pair; g++ cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

// Counting costs a malloc_usable_size per allocation, so it runs only while a peak is measured,
// never while time is.
std::atomic<bool> g_tracking{false};
std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};

void note_alloc(void* p) {
  if (p == nullptr || !g_tracking.load(std::memory_order_relaxed)) return;
  const std::size_t live = g_live.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
  std::size_t peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
}

}  // namespace

void* operator new(std::size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  note_alloc(p);
  return p;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  if (g_tracking.load(std::memory_order_relaxed)) g_live.fetch_sub(malloc_usable_size(p));
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

using namespace ostrel;

struct Fixture {
  std::shared_ptr<const std::vector<std::uint8_t>> file;  // the vault file's bytes, shared
  std::vector<core::VaultRecordV1> records;                // decoded from them, in file order
  validate::RatchetState remembered;
};

// Decodes as a session does: from the file's bytes held in shared ownership.
std::vector<core::VaultRecordV1> decode_shared(const std::shared_ptr<const std::vector<std::uint8_t>>& file) {
  auto decoded = store::decode_vault_file(file);
  if (!decoded) std::abort();
  return std::move(decoded->items());
}

// The vault of n generated records, or, when OSTREL_BENCH_VAULT names a vault file (one the
// fixture tool built, say), that file for every size.
const Fixture& fixture(std::size_t n) {
  static std::map<std::size_t, Fixture> cache;
  auto it = cache.find(n);
  if (it != cache.end()) return it->second;
  Fixture f;
  if (const char* path = std::getenv("OSTREL_BENCH_VAULT"); path != nullptr && *path != '\0') {
    auto bytes = store::read_vault_bytes(store::WorkspacePaths::for_vault_file(path));
    if (!bytes) std::abort();
    f.file = std::make_shared<const std::vector<std::uint8_t>>(std::move(*bytes));
    f.records = decode_shared(f.file);
    auto root = trust::select_root(f.records);
    if (!root) std::abort();
    f.remembered = validate::RatchetState::fresh(*root);
    return cache.emplace(n, std::move(f)).first->second;
  }
  testing::GeneratedVault g = testing::generate_vault(n);
  auto bytes = store::encode_vault_file(cord::Set<core::VaultRecordV1>(std::move(g.records)));
  if (!bytes) std::abort();
  f.file = std::make_shared<const std::vector<std::uint8_t>>(bytes->begin(), bytes->end());
  f.records = decode_shared(f.file);
  f.remembered = validate::RatchetState::fresh(g.root_key_id);
  return cache.emplace(n, std::move(f)).first->second;
}

double bare_verify_ns(const core::VaultRecordV1& r) {
  const auto framed = crypto::signature_message(core::kRecordSignaturePurpose, r.signed_message());
  constexpr int kRounds = 2000;
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kRounds; ++i) {
    benchmark::DoNotOptimize(crypto_sign_verify_detached(r.signature().data(), framed.data(), framed.size(),
                                                         r.signing_public_key().data()));
  }
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() / kRounds;
}

double decode_and_hash_ns(const Fixture& f) {
  constexpr int kRounds = 3;
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kRounds; ++i) {
    for (const auto& r : decode_shared(f.file)) benchmark::DoNotOptimize(core::record_hash(r));
  }
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() / kRounds;
}

// Heap bytes live at the peak of one cold derivation: (the derivation's own, everything live).
// Only allocations made while tracking are counted, so `live` starts from what the fixture's
// decoded records and file bytes hold, measured by building them again under tracking.
std::pair<double, double> peak_heap(std::size_t n, const Fixture& f) {
  g_live.store(0);
  g_peak.store(0);
  g_tracking.store(true);
  {
    auto file = std::make_shared<const std::vector<std::uint8_t>>(*f.file);
    const auto records = decode_shared(file);
    const std::size_t held = g_live.load();
    g_peak.store(held);
    auto s = validate::derive_state(records, f.remembered, {});
    benchmark::DoNotOptimize(s);
    g_tracking.store(false);
    (void)n;
    return {static_cast<double>(g_peak.load() - held), static_cast<double>(g_peak.load())};
  }
}

void BM_DeriveCold(benchmark::State& state) {
  const Fixture& f = fixture(static_cast<std::size_t>(state.range(0)));
  const std::set<HashValue> none;
  for (auto _ : state) {
    auto s = validate::derive_state(f.records, f.remembered, none);
    if (!s || !s->issues.empty()) state.SkipWithError("derivation failed");
    benchmark::DoNotOptimize(s);
  }
  const auto [extra, total] = peak_heap(static_cast<std::size_t>(state.range(0)), f);
  state.counters["records"] = static_cast<double>(f.records.size());
  state.counters["ns_per_record"] =
      benchmark::Counter(static_cast<double>(f.records.size()), benchmark::Counter::kIsIterationInvariantRate |
                                                                    benchmark::Counter::kInvert);
  state.counters["verify_ns"] = bare_verify_ns(f.records.back());
  state.counters["file_MiB"] = static_cast<double>(f.file->size()) / (1 << 20);
  state.counters["peak_extra_x_file"] = extra / static_cast<double>(f.file->size());
  state.counters["peak_total_x_file"] = total / static_cast<double>(f.file->size());
}

void BM_DeriveWarm(benchmark::State& state) {
  const Fixture& f = fixture(static_cast<std::size_t>(state.range(0)));
  std::set<HashValue> verified;
  for (const auto& r : f.records) verified.insert(core::record_hash(r));
  for (auto _ : state) {
    auto s = validate::derive_state(f.records, f.remembered, verified);
    if (!s || !s->issues.empty()) state.SkipWithError("derivation failed");
    benchmark::DoNotOptimize(s);
  }
  state.counters["ns_per_record"] =
      benchmark::Counter(static_cast<double>(f.records.size()), benchmark::Counter::kIsIterationInvariantRate |
                                                                    benchmark::Counter::kInvert);
  state.counters["decode_hash_ns_per_record"] = decode_and_hash_ns(f) / static_cast<double>(f.records.size());
}

BENCHMARK(BM_DeriveCold)->Arg(1024)->Arg(16384)->Arg(262144)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_DeriveWarm)->Arg(1024)->Arg(16384)->Arg(262144)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
