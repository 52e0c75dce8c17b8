// Costs of the crypto layer per call: identity derivation, framed signing and verification, HPKE
// sealing and opening of a 32-byte content key, and the domain hash over record-sized and
// file-sized inputs next to other SHA-256 implementations of the same framing.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <sodium.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "crypto/domain_hash.h"
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

// ---- the domain hash ----
// The library's domain hash (OpenSSL's SHA-256 fetched once, one context per thread) next to
// other SHA-256 implementations of the same framing, each checked against the library's digest
// first: libsodium's portable code, which the library used before; OpenSSL initialised with
// EVP_sha256(), which OpenSSL 3 looks up again at every initialisation; OpenSSL's one-shot
// EVP_Digest over a framed copy.

constexpr std::string_view kDomain = "ostrel.hash.v1";
constexpr std::string_view kRecordTag = "ostrel.record-hash.v1";

// Feeds "ostrel.hash.v1", the tag and the data to `update`, each behind its big-endian length.
template <class Update>
void framed_parts(std::string_view tag, std::span<const std::uint8_t> data, Update&& update) {
  auto part = [&update](const void* p, std::size_t n) {
    std::array<std::uint8_t, 8> len;
    for (int i = 0; i < 8; ++i) len[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(n) >> (56 - 8 * i));
    update(len.data(), len.size());
    update(static_cast<const std::uint8_t*>(p), n);
  };
  part(kDomain.data(), kDomain.size());
  part(tag.data(), tag.size());
  part(data.data(), data.size());
}

HashValue sodium_domain_hash(std::string_view tag, std::span<const std::uint8_t> data) {
  crypto_hash_sha256_state st;
  crypto_hash_sha256_init(&st);
  framed_parts(tag, data, [&st](const std::uint8_t* p, std::size_t n) { crypto_hash_sha256_update(&st, p, n); });
  std::array<std::uint8_t, crypto_hash_sha256_BYTES> out;
  crypto_hash_sha256_final(&st, out.data());
  return HashValue(std::span<const std::uint8_t>(out));
}

void check(int ok) {
  if (ok != 1) std::abort();
}

struct ContextFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

HashValue evp_implicit_domain_hash(std::string_view tag, std::span<const std::uint8_t> data) {
  thread_local const std::unique_ptr<EVP_MD_CTX, ContextFree> owned(EVP_MD_CTX_new());
  EVP_MD_CTX* const ctx = owned.get();
  check(ctx != nullptr);
  check(EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr));
  framed_parts(tag, data, [ctx](const std::uint8_t* p, std::size_t n) { check(EVP_DigestUpdate(ctx, p, n)); });
  std::array<std::uint8_t, 32> out;
  check(EVP_DigestFinal_ex(ctx, out.data(), nullptr));
  return HashValue(std::span<const std::uint8_t>(out));
}

HashValue evp_one_shot_domain_hash(std::string_view tag, std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> framed;
  framed.reserve(24 + kDomain.size() + tag.size() + data.size());
  framed_parts(tag, data, [&framed](const std::uint8_t* p, std::size_t n) { framed.insert(framed.end(), p, p + n); });
  std::array<std::uint8_t, 32> out;
  check(EVP_Digest(framed.data(), framed.size(), out.data(), nullptr, EVP_sha256(), nullptr));
  return HashValue(std::span<const std::uint8_t>(out));
}

void run_domain_hash(benchmark::State& state, HashValue (*hash)(std::string_view, std::span<const std::uint8_t>)) {
  const std::vector<std::uint8_t> data(static_cast<std::size_t>(state.range(0)), 0x5a);
  if (hash(kRecordTag, data) != domain_hash(kRecordTag, data)) {
    state.SkipWithError("differs from the library's domain hash");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(hash(kRecordTag, data));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_DomainHash(benchmark::State& state) { run_domain_hash(state, domain_hash); }
void BM_DomainHashSodium(benchmark::State& state) { run_domain_hash(state, sodium_domain_hash); }
void BM_DomainHashEvpImplicit(benchmark::State& state) { run_domain_hash(state, evp_implicit_domain_hash); }
void BM_DomainHashEvpOneShot(benchmark::State& state) { run_domain_hash(state, evp_one_shot_domain_hash); }

// Records of 300, 600 (a generated vault's average) and 2,000 bytes, and a 16 MiB file.
void domain_hash_sizes(benchmark::internal::Benchmark* b) {
  for (const std::int64_t n : {300, 600, 2000, 16 << 20}) b->Arg(n);
}
BENCHMARK(BM_DomainHash)->Apply(domain_hash_sizes);
BENCHMARK(BM_DomainHashSodium)->Apply(domain_hash_sizes);
BENCHMARK(BM_DomainHashEvpImplicit)->Apply(domain_hash_sizes);
BENCHMARK(BM_DomainHashEvpOneShot)->Apply(domain_hash_sizes);

}  // namespace
}  // namespace ostrel::crypto
