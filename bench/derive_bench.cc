// The state derivation on generated vaults of 1,024, 16,384 and 262,144 records (a few hundred
// users with entry points and handles, groups, grants, the rest secrets with three readers),
// each beside a baseline run on the same records:
//   cold: every signature verified; the baseline verifies each record's own signature with a
//         bare libsodium Ed25519 verification (over the framed bytes, as any verification must).
//   warm: every hash already verified; the baseline decodes the same file and hashes every record.
// Both sides are timed with the same clock (this thread's CPU time) and alternate round by round,
// so a loaded machine moves them alike; `x_baseline` is the derivation's time over the baseline's.
// Heap use is tracked by counting allocations, so the peak during a derivation is exact.
// BM_OpenMinimal opens (decodes and derives) a file of 262,144 minimal records, the most records
// per byte a vault file can hold: the worst case of heap per file byte.
// BM_WriteFull and BM_WriteAdded derive the state a write leaves (one member's overwrite of one
// of its secrets appended to the opened vault's records): the whole candidate set against the
// base's record hashes, as a write did, and derive_with_added_record from the base state.
// OSTREL_BENCH_VAULT=path/to/vault.cord runs every generated case on that file instead.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sodium.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>

#include "core/record_sign.h"
#include "core/validate/derive.h"
#include "core/validate/derive_added.h"
#include "core/validate/trust.h"
#include "crypto/signing.h"
#include "store/vault_file.h"
#include "support/generate.h"
#include "support/identities.h"
#include "support/state_diff.h"

// The replaced operator new and delete below are a malloc/free pair; g++ cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

// Counting costs a malloc_usable_size per allocation, so it runs only while a peak is measured,
// never while time is.
std::atomic<bool> g_tracking{false};
std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};
std::atomic<std::size_t> g_allocations{0};

void note_alloc(void* p) {
  if (p == nullptr || !g_tracking.load(std::memory_order_relaxed)) return;
  g_allocations.fetch_add(1, std::memory_order_relaxed);
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
using File = std::shared_ptr<const std::vector<std::uint8_t>>;

struct Fixture {
  File file;                                // the vault file's bytes, shared
  std::vector<core::VaultRecordV1> records;  // decoded from them, in file order
  validate::RatchetState remembered;
};

// Decodes as a session does: from the file's bytes held in shared ownership.
std::vector<core::VaultRecordV1> decode_shared(const File& file) {
  auto decoded = store::decode_vault_file(file);
  if (!decoded) std::abort();
  return std::move(decoded->items());
}

Fixture fixture_of(File file, const HashValue* root_key_id) {
  Fixture f;
  f.file = std::move(file);
  f.records = decode_shared(f.file);
  if (root_key_id != nullptr) {
    f.remembered = validate::RatchetState::fresh(*root_key_id);
  } else {
    auto root = trust::select_root(f.records);
    if (!root) std::abort();
    f.remembered = validate::RatchetState::fresh(*root);
  }
  return f;
}

// The vault of n generated records, or, when OSTREL_BENCH_VAULT names a vault file (one the
// fixture tool built, say), that file for every size.
const Fixture& fixture(std::size_t n) {
  static std::map<std::size_t, Fixture> cache;
  auto it = cache.find(n);
  if (it != cache.end()) return it->second;
  if (const char* path = std::getenv("OSTREL_BENCH_VAULT"); path != nullptr && *path != '\0') {
    auto bytes = store::read_vault_bytes(store::WorkspacePaths::for_vault_file(path));
    if (!bytes) std::abort();
    return cache.emplace(n, fixture_of(std::make_shared<const std::vector<std::uint8_t>>(std::move(*bytes)), nullptr))
        .first->second;
  }
  testing::GeneratedVault g = testing::generate_vault(n);
  auto bytes = store::encode_vault_file(cord::Set<core::VaultRecordV1>(std::move(g.records)));
  if (!bytes) std::abort();
  return cache.emplace(n, fixture_of(std::make_shared<const std::vector<std::uint8_t>>(bytes->begin(), bytes->end()),
                                     &g.root_key_id))
      .first->second;
}

// ---- timing: one clock for both sides ----

double thread_cpu_ns() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

template <class Fn>
double cpu_ns(Fn&& fn) {
  const double t0 = thread_cpu_ns();
  fn();
  return thread_cpu_ns() - t0;
}

// Runs the derivation and its baseline once per round, alternating which goes first, and reports
// the derivation's CPU time as the round's time. Counters per record: the derivation's and the
// baseline's time, and their ratio.
template <class Derive, class Baseline>
void run_against_baseline(benchmark::State& state, std::size_t records, Derive&& derive, Baseline&& baseline) {
  double derived = 0;
  double based = 0;
  bool derive_first = true;
  for (auto _ : state) {
    double d = 0;
    double b = 0;
    if (derive_first) {
      d = cpu_ns(derive);
      b = cpu_ns(baseline);
    } else {
      b = cpu_ns(baseline);
      d = cpu_ns(derive);
    }
    derive_first = !derive_first;
    state.SetIterationTime(d / 1e9);
    derived += d;
    based += b;
  }
  const double rounds = static_cast<double>(state.iterations()) * static_cast<double>(records);
  state.counters["records"] = static_cast<double>(records);
  state.counters["ns_per_record"] = derived / rounds;
  state.counters["baseline_ns_per_record"] = based / rounds;
  state.counters["x_baseline"] = derived / based;
}

// ---- heap ----

struct Peak {
  double extra = 0;  // the peak above what was live when the measured step began
  double total = 0;  // everything live at the peak, from the start of tracking
  double allocations = 0;
};

// Tracks the heap from here until the returned object's `stop`.
struct HeapWindow {
  HeapWindow() {
    g_live.store(0);
    g_peak.store(0);
    g_allocations.store(0);
    g_tracking.store(true);
  }
  // Marks the start of the measured step: its peak is counted above what is live now.
  void mark() {
    held = g_live.load();
    g_peak.store(held);
  }
  Peak stop() {
    g_tracking.store(false);
    return Peak{static_cast<double>(g_peak.load() - held), static_cast<double>(g_peak.load()),
                static_cast<double>(g_allocations.load())};
  }
  std::size_t held = 0;
};

// Heap bytes live at the peak of one cold derivation, counted from a fresh copy of the file: the
// derivation's own, and everything live (file, decoded records, derivation). Also the decoded
// records alone, and their allocations per record.
void measure_heap(benchmark::State& state, const Fixture& f) {
  HeapWindow w;
  auto file = std::make_shared<const std::vector<std::uint8_t>>(*f.file);
  const std::size_t file_bytes = g_live.load();
  const std::size_t file_allocations = g_allocations.load();
  const auto records = decode_shared(file);
  const double decoded = static_cast<double>(g_live.load() - file_bytes);
  const double decode_allocations = static_cast<double>(g_allocations.load() - file_allocations);
  w.mark();
  {
    auto s = validate::derive_state(records, f.remembered, {});
    benchmark::DoNotOptimize(s);
  }
  const Peak p = w.stop();
  const double size = static_cast<double>(f.file->size());
  state.counters["file_MiB"] = size / (1 << 20);
  state.counters["records_x_file"] = decoded / size;
  state.counters["allocs_per_record"] = decode_allocations / static_cast<double>(records.size());
  state.counters["peak_extra_x_file"] = p.extra / size;
  state.counters["peak_total_x_file"] = p.total / size;
}

// One derivation of the fixture's records against `verified`, as a round's derivation side.
auto derive_round(benchmark::State& state, const Fixture& f, const validate::VerifiedHashes& verified) {
  return [&state, &f, &verified] {
    auto s = validate::derive_state(f.records, f.remembered, verified);
    if (!s || !s->issues.empty()) state.SkipWithError("derivation failed");
    benchmark::DoNotOptimize(s);
  };
}

void BM_DeriveCold(benchmark::State& state) {
  const Fixture& f = fixture(static_cast<std::size_t>(state.range(0)));
  const validate::VerifiedHashes none;
  run_against_baseline(state, f.records.size(), derive_round(state, f, none), [&] {
    for (const core::VaultRecordV1& r : f.records) {
      const auto framed = crypto::signature_message(core::kRecordSignaturePurpose, r.signed_message());
      benchmark::DoNotOptimize(crypto_sign_verify_detached(r.signature().data(), framed.data(), framed.size(),
                                                           r.signing_public_key().data()));
    }
  });
  measure_heap(state, f);
}

void BM_DeriveWarm(benchmark::State& state) {
  const Fixture& f = fixture(static_cast<std::size_t>(state.range(0)));
  validate::VerifiedHashes verified;
  for (const auto& r : f.records) verified.insert(core::record_hash(r));
  run_against_baseline(state, f.records.size(), derive_round(state, f, verified), [&] {
    for (const auto& r : decode_shared(f.file)) benchmark::DoNotOptimize(core::record_hash(r));
  });
}

// ---- the worst case per byte ----

// A file of `n` records of 20 bytes each (a body of a later version's kind, eight bytes long,
// with an empty key and signature), all distinct, then the self-signed root record so the
// derivation runs through: the smallest records a vault file can hold.
File minimal_file(std::size_t n) {
  std::vector<std::uint8_t> out = {'o', 's', 't', 'r', 'e', 'l', '-', 'v', 'a', 'u', 'l', 't', 0};
  auto be32 = [&](std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
  };
  be32(0);  // the store's variant
  be32(static_cast<std::uint32_t>(n));
  for (std::uint32_t i = 0; i + 1 < n; ++i) {
    be32(8);     // body payload length
    be32(0xff);  // an unknown kind
    be32(i);     // makes each record distinct, ascending
    be32(0);     // signing key
    be32(0);     // signature
  }
  const core::VaultRecordV1 root = testing::root_record(testing::identity_of(1));
  out.insert(out.end(), root.encoding().begin(), root.encoding().end());
  return std::make_shared<const std::vector<std::uint8_t>>(std::move(out));
}

void BM_OpenMinimal(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const File source = minimal_file(n);
  auto root = trust::select_root(decode_shared(source));
  if (!root) std::abort();
  const validate::RatchetState remembered = validate::RatchetState::fresh(*root);
  for (auto _ : state) {
    auto s = validate::derive_state(decode_shared(source), remembered, {});
    benchmark::DoNotOptimize(s);
  }
  // Opening as a session does: the file's bytes, the records decoded from them, the state.
  HeapWindow w;
  Peak decoded;
  {
    auto file = std::make_shared<const std::vector<std::uint8_t>>(*source);
    const auto records = decode_shared(file);
    decoded.total = static_cast<double>(g_live.load());
    decoded.extra = static_cast<double>(g_peak.load());
    auto s = validate::derive_state(records, remembered, {});
    if (!s || !s->issues.empty()) state.SkipWithError("derivation failed");
    benchmark::DoNotOptimize(s);
  }
  const Peak opened = w.stop();
  const double size = static_cast<double>(source->size());
  state.counters["file_MiB"] = size / (1 << 20);
  state.counters["decoded_MiB"] = decoded.total / (1 << 20);
  state.counters["decode_peak_MiB"] = decoded.extra / (1 << 20);
  state.counters["opened_MiB"] = opened.total / (1 << 20);
  state.counters["opened_B_per_record"] = opened.total / static_cast<double>(n);
}

// ---- the state a write leaves ----

// An opened vault's state (derived against the ratchet its first opening remembered), that
// ratchet, the next one a write makes, and the candidate set: the file's records with a member's
// overwrite of one of its own secrets appended, as a write's record set holds it.
struct WriteFixture {
  validate::RatchetState remembered;
  validate::VaultState base;
  validate::RatchetState next;
  std::vector<core::VaultRecordV1> candidate;
  std::string mismatch;  // where the two roads disagree; empty when they agree
  bool shortcut = false;
};

const WriteFixture& write_fixture(std::size_t n) {
  static std::map<std::size_t, WriteFixture> cache;
  auto it = cache.find(n);
  if (it != cache.end()) return it->second;
  const Fixture& f = fixture(n);
  WriteFixture w;
  validate::VerifiedHashes all;
  for (const auto& r : f.records) all.insert(core::record_hash(r));
  auto opened = validate::derive_state(f.records, f.remembered, all);
  if (!opened) std::abort();
  w.remembered = f.remembered;
  w.remembered.advance(opened->ratchet);
  auto base = validate::derive_state(f.records, w.remembered, all);
  if (!base) std::abort();
  w.base = std::move(*base);
  w.next = w.remembered;
  w.next.advance(w.base.ratchet);
  // The generator's first member writes under team-0.
  std::array<std::uint8_t, 32> seed{};
  seed[0] = 0x5a;
  const crypto::Identity writer = testing::identity_from_seed(seed);
  const core::SecretSelectorV1 selector{{"team-0", "service-0", "key-0"}, {{"env", "dev"}}};
  auto record = core::SecretRecordV1::create_signed(
      writer, selector, core::SealedPayloadV1{cord::Bytes(12, 7), cord::Bytes(32, 0xcc), {}}, w.base.next_counter());
  if (!record) std::abort();
  w.candidate = f.records;
  w.candidate.push_back(std::move(*record));
  auto full = validate::derive_state(w.candidate, w.next, w.base.record_hashes());
  auto added = validate::derive_with_added_record(w.base, w.remembered, w.candidate, w.candidate.size() - 1, w.next);
  if (!full || !added) std::abort();
  w.mismatch = testing::first_difference(*added, *full);
  w.shortcut = validate::derive_by_addition(w.base, w.remembered, w.candidate, w.candidate.size() - 1, w.next).has_value();
  return cache.emplace(n, std::move(w)).first->second;
}

void BM_WriteFull(benchmark::State& state) {
  const WriteFixture& w = write_fixture(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto s = validate::derive_state(w.candidate, w.next, w.base.record_hashes());
    benchmark::DoNotOptimize(s);
  }
  state.counters["records"] = static_cast<double>(w.candidate.size());
}

void BM_WriteAdded(benchmark::State& state) {
  const WriteFixture& w = write_fixture(static_cast<std::size_t>(state.range(0)));
  if (!w.mismatch.empty()) state.SkipWithError(("differs from the whole derivation: " + w.mismatch).c_str());
  for (auto _ : state) {
    auto s = validate::derive_with_added_record(w.base, w.remembered, w.candidate, w.candidate.size() - 1, w.next);
    benchmark::DoNotOptimize(s);
  }
  state.counters["records"] = static_cast<double>(w.candidate.size());
  state.counters["shortcut"] = w.shortcut ? 1 : 0;
}

BENCHMARK(BM_DeriveCold)->Arg(1024)->Arg(16384)->Arg(262144)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK(BM_DeriveWarm)->Arg(1024)->Arg(16384)->Arg(262144)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(4);
BENCHMARK(BM_OpenMinimal)->Arg(262144)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_WriteFull)->Arg(16384)->Arg(262144)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_WriteAdded)->Arg(16384)->Arg(262144)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace
