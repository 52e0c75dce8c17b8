// Costs of sealing a secret value to 1, 10 and 100 readers and of opening it, beside one bare
// X25519 scalar multiplication, so per-reader cost can be read in multiplications.
#include <benchmark/benchmark.h>

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "core/ids.h"
#include "core/seal.h"
#include "crypto/identity.h"

namespace ostrel::core {
namespace {

// `n` identities from distinct fixed seeds, ascending by user id as readers are listed.
std::vector<crypto::Identity> identities(std::size_t n) {
  std::vector<crypto::Identity> out;
  for (std::size_t i = 0; i < n; ++i) {
    std::array<std::uint8_t, 32> seed{};
    seed[0] = static_cast<std::uint8_t>(i);
    seed[1] = static_cast<std::uint8_t>(i >> 8);
    out.push_back(*crypto::Identity::from_seed(seed));
  }
  std::sort(out.begin(), out.end(),
            [](const crypto::Identity& a, const crypto::Identity& b) { return a.user_id < b.user_id; });
  return out;
}

struct Fixture {
  std::vector<crypto::Identity> readers;
  SealRecipients to;
  SecretWriteContext context;
  SecretValueV1 value;

  explicit Fixture(std::size_t n) : readers(identities(n)) {
    to.root_key_id = HashValue(std::vector<std::uint8_t>(32, 0x11));
    for (const crypto::Identity& r : readers) to.readers.push_back({r.user_id, std::span(r.hpke_public_key)});
    const SecretSelectorV1 selector{{"app", "db"}, {{"env", "prod"}}};
    const SecretId id = *core::derive_secret_id(selector);
    context = {EntityKey(entity::Secret{id}), Bytes(readers[0].signing_public_key.begin(),
                                                    readers[0].signing_public_key.end()),
               id, selector, 42};
    constexpr std::string_view kValue = "postgres://app:correct-horse-battery-staple@db/prod";
    value.value = platform::SecretBytes::copy_of(
        {reinterpret_cast<const std::uint8_t*>(kValue.data()), kValue.size()});
  }
};

void BM_Seal(benchmark::State& state) {
  const Fixture f(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(SealedPayloadV1::seal(f.to, f.context, f.value));
  state.SetItemsProcessed(state.iterations() * state.range(0));  // items: recipient slots
}
BENCHMARK(BM_Seal)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

// Opening as the last reader, whose slot is found last. Open takes the body over, so each round
// gets a fresh copy, made outside the timing.
void BM_Open(benchmark::State& state) {
  const Fixture f(static_cast<std::size_t>(state.range(0)));
  const SealedPayloadV1 payload = *SealedPayloadV1::seal(f.to, f.context, f.value);
  const SecretRecordV1 body{f.context.secret_id, f.context.selector, payload, f.context.counter};
  const VaultRecordV1 record(RecordBodyV1(body), f.context.signing_public_key, Bytes(64, 0));
  const crypto::Identity& me = f.readers.back();
  for (auto _ : state) {
    state.PauseTiming();
    SecretRecordV1 taken = body;
    state.ResumeTiming();
    benchmark::DoNotOptimize(SealedPayloadV1::open(me, record, std::move(taken), *f.to.root_key_id));
  }
}
BENCHMARK(BM_Open)->Arg(1)->Arg(100)->Unit(benchmark::kMicrosecond);

void BM_X25519ScalarMult(benchmark::State& state) {
  const std::vector<crypto::Identity> ids = identities(2);
  std::array<std::uint8_t, 32> out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        crypto_scalarmult_curve25519(out.data(), ids[0].keys.hpke_private_key.data(), ids[1].hpke_public_key.data()));
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_X25519ScalarMult)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ostrel::core
