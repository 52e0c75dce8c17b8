#include "crypto/hkdf.h"

#include <sodium.h>

#include <algorithm>

#include "platform/secure_memory.h"

namespace ostrel::crypto {
namespace {

// HMAC-SHA256 keyed with `key` over the parts in order. The HMAC state holds key-derived pads
// and is wiped before it goes out of scope.
void hmac_parts(std::span<const std::uint8_t> key,
                std::span<const std::span<const std::uint8_t>> parts,
                std::span<std::uint8_t, kHkdfHashBytes> out) {
  static constexpr std::uint8_t kNoKey = 0;  // libsodium wants a pointer even for an empty key
  crypto_auth_hmacsha256_state st;
  crypto_auth_hmacsha256_init(&st, key.empty() ? &kNoKey : key.data(), key.size());
  for (const auto& part : parts) crypto_auth_hmacsha256_update(&st, part.data(), part.size());
  crypto_auth_hmacsha256_final(&st, out.data());
  platform::secure_wipe(&st, sizeof st);
}

}  // namespace

platform::SecretArray<kHkdfHashBytes> hkdf_extract(std::span<const std::uint8_t> salt,
                                                   std::span<const std::uint8_t> ikm) {
  platform::SecretArray<kHkdfHashBytes> prk;
  const std::span<const std::uint8_t> parts[] = {ikm};
  hmac_parts(salt, parts, prk.span());
  return prk;
}

platform::SecretArray<kHkdfHashBytes> labeled_extract(std::span<const std::uint8_t> suite_id,
                                                      std::span<const std::uint8_t> salt,
                                                      std::string_view label,
                                                      std::span<const std::uint8_t> ikm) {
  platform::SecretArray<kHkdfHashBytes> prk;
  const std::span<const std::uint8_t> parts[] = {detail::bytes_of("HPKE-v1"), suite_id,
                                                 detail::bytes_of(label), ikm};
  hmac_parts(salt, parts, prk.span());
  return prk;
}

namespace detail {

void hkdf_expand_parts(const platform::SecretArray<kHkdfHashBytes>& prk,
                       std::span<const std::span<const std::uint8_t>> info_parts,
                       std::span<std::uint8_t> out) {
  // T(i) = HMAC(PRK, T(i-1) || info || i), T(0) empty; the output is T(1) || T(2) || ...
  platform::SecretArray<kHkdfHashBytes> block;
  std::size_t block_len = 0;
  std::size_t done = 0;
  for (std::uint8_t counter = 1; done < out.size(); ++counter) {
    crypto_auth_hmacsha256_state st;
    crypto_auth_hmacsha256_init(&st, prk.data(), prk.size());
    crypto_auth_hmacsha256_update(&st, block.data(), block_len);
    for (const auto& part : info_parts) crypto_auth_hmacsha256_update(&st, part.data(), part.size());
    crypto_auth_hmacsha256_update(&st, &counter, 1);
    crypto_auth_hmacsha256_final(&st, block.data());
    platform::secure_wipe(&st, sizeof st);
    block_len = block.size();
    const std::size_t n = std::min(block_len, out.size() - done);
    std::copy_n(block.data(), n, out.data() + done);
    done += n;
  }
}

}  // namespace detail

X25519KeyPair derive_x25519_key_pair(std::span<const std::uint8_t> ikm) {
  const auto dkp_prk = labeled_extract(kKemSuiteId, {}, "dkp_prk", ikm);
  X25519KeyPair pair{labeled_expand<32>(kKemSuiteId, dkp_prk, "sk", {}), {}};
  // Multiplying the base point by a clamped scalar never gives the identity, so this cannot fail.
  (void)crypto_scalarmult_curve25519_base(pair.public_key.data(), pair.private_key.data());
  return pair;
}

}  // namespace ostrel::crypto
