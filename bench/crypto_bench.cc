// Costs of the crypto layer per call: identity derivation, framed signing and verification, and
// HPKE sealing and opening of a 32-byte content key.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "crypto/hpke.h"
#include "crypto/identity.h"
#include "crypto/signing.h"

namespace ostrel::crypto {
namespace {

const std::vector<std::uint8_t> kSeed(32, 0x42);
const std::vector<std::uint8_t> kMessage(512, 0x17);
const std::vector<std::uint8_t> kContentKey(32, 0x99);
const std::vector<std::uint8_t> kContext(120, 0x05);

void BM_IdentityFromSeed(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Identity::from_seed(kSeed));
}
BENCHMARK(BM_IdentityFromSeed);

void BM_Sign(benchmark::State& state) {
  const Identity id = *Identity::from_seed(kSeed);
  for (auto _ : state) benchmark::DoNotOptimize(id.sign(kSignedRecordPurpose, kMessage));
}
BENCHMARK(BM_Sign);

void BM_VerifySignature(benchmark::State& state) {
  const Identity id = *Identity::from_seed(kSeed);
  const auto sig = id.sign(kSignedRecordPurpose, kMessage);
  for (auto _ : state) {
    benchmark::DoNotOptimize(verify_signature(kSignedRecordPurpose, id.signing_public_key, kMessage, sig));
  }
}
BENCHMARK(BM_VerifySignature);

void BM_HpkeSeal(benchmark::State& state) {
  const Identity id = *Identity::from_seed(kSeed);
  for (auto _ : state) benchmark::DoNotOptimize(hpke::seal(id.hpke_public_key, kContext, kContext, kContentKey));
}
BENCHMARK(BM_HpkeSeal);

void BM_HpkeOpen(benchmark::State& state) {
  const Identity id = *Identity::from_seed(kSeed);
  const auto sealed = *hpke::seal(id.hpke_public_key, kContext, kContext, kContentKey);
  for (auto _ : state) {
    benchmark::DoNotOptimize(hpke::open(sealed.encapsulated_key, id.keys.hpke_private_key, kContext, kContext,
                                        sealed.ciphertext));
  }
}
BENCHMARK(BM_HpkeOpen);

}  // namespace
}  // namespace ostrel::crypto
