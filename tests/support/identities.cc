#include "support/identities.h"

#include <sodium.h>

#include <cstdlib>
#include <cstring>

#include "crypto/hkdf.h"
#include "crypto/signing.h"

namespace ostrel::testing {

std::array<std::uint8_t, 32> counting_seed() {
  std::array<std::uint8_t, 32> seed{};
  for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i);
  return seed;
}

crypto::Identity identity_from_seed(std::span<const std::uint8_t> seed) {
  auto id = crypto::Identity::from_seed(seed);
  if (!id) std::abort();
  return std::move(*id);
}

crypto::Identity identity_of(std::uint8_t fill) {
  std::array<std::uint8_t, 32> seed;
  seed.fill(fill);
  return identity_from_seed(seed);
}

core::VaultRecordV1 signed_record(const crypto::Identity& author, core::EvolvingBody body) {
  auto r = core::sign_record(author, std::move(body));
  if (!r) std::abort();
  return std::move(*r);
}

std::vector<std::uint8_t> randomized_signature(const crypto::Identity& identity, std::string_view purpose,
                                               std::span<const std::uint8_t> message) {
  // The identity's Ed25519 private key, derived from its master seed as the library does.
  const auto prk = crypto::hkdf_extract(crypto::detail::bytes_of("ostrel.seedsalt.v1"), identity.master_seed.span());
  const auto seed = crypto::hkdf_expand<32>(prk, crypto::detail::bytes_of("ostrel.seedsalt.v1.ed25519"));
  std::uint8_t h[64];
  crypto_hash_sha512(h, seed.span().data(), 32);
  h[0] &= 248;
  h[31] &= 127;
  h[31] |= 64;
  std::uint8_t a[32], wide[64] = {};
  std::memcpy(wide, h, 32);
  crypto_core_ed25519_scalar_reduce(a, wide);
  std::uint8_t pk[32];
  crypto_scalarmult_ed25519_base_noclamp(pk, h);
  if (std::memcmp(pk, identity.signing_public_key.data(), 32) != 0) std::abort();

  std::uint8_t r64[64], r[32], big_r[32];
  randombytes_buf(r64, sizeof r64);
  crypto_core_ed25519_scalar_reduce(r, r64);
  crypto_scalarmult_ed25519_base_noclamp(big_r, r);
  const std::vector<std::uint8_t> framed = crypto::signature_message(purpose, message);
  crypto_hash_sha512_state st;
  crypto_hash_sha512_init(&st);
  crypto_hash_sha512_update(&st, big_r, 32);
  crypto_hash_sha512_update(&st, pk, 32);
  crypto_hash_sha512_update(&st, framed.data(), framed.size());
  std::uint8_t k64[64], k[32], ka[32], s[32];
  crypto_hash_sha512_final(&st, k64);
  crypto_core_ed25519_scalar_reduce(k, k64);
  crypto_core_ed25519_scalar_mul(ka, k, a);
  crypto_core_ed25519_scalar_add(s, r, ka);
  std::vector<std::uint8_t> sig(64);
  std::memcpy(sig.data(), big_r, 32);
  std::memcpy(sig.data() + 32, s, 32);
  sodium_memzero(h, sizeof h);
  sodium_memzero(a, sizeof a);
  sodium_memzero(wide, sizeof wide);
  return sig;
}

core::VaultRecordV1 root_record(const crypto::Identity& root) {
  return signed_record(root, core::RecordBodyV1(core::VaultRootRecordV1{
                                 root.user_id, core::Bytes(root.hpke_public_key.begin(), root.hpke_public_key.end())}));
}

}  // namespace ostrel::testing
