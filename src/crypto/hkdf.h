// HKDF-SHA256 (extract and expand), the labeled forms that HPKE builds on, and the DHKEM(X25519,
// HKDF-SHA256) key derivation. Every intermediate value lives in a wiping buffer. Pure
// functions; safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/secret.h"

namespace ostrel::crypto {

inline constexpr std::size_t kHkdfHashBytes = 32;
inline constexpr std::size_t kHkdfMaxOutputBytes = 255 * kHkdfHashBytes;

// Suite identifiers of the labeled functions: the KEM's "KEM" || kem_id, and the whole suite's
// "HPKE" || kem_id || kdf_id || aead_id for DHKEM(X25519, HKDF-SHA256), HKDF-SHA256,
// ChaCha20Poly1305.
inline constexpr std::array<std::uint8_t, 5> kKemSuiteId = {'K', 'E', 'M', 0x00, 0x20};
inline constexpr std::array<std::uint8_t, 10> kHpkeSuiteId = {'H',  'P', 'K',  'E', 0x00,
                                                              0x20, 0x00, 0x01, 0x00, 0x03};

// The pseudorandom key: HMAC-SHA256 of the input keying material under the salt (an empty salt
// acts as 32 zero bytes).
platform::SecretArray<kHkdfHashBytes> hkdf_extract(std::span<const std::uint8_t> salt,
                                                   std::span<const std::uint8_t> ikm);

namespace detail {
// Fills `out` with HKDF-Expand of `prk` under the concatenation of `info_parts`; the parts are
// fed to HMAC one after the other so no joined copy is made.
// REQUIRES: out.size() <= kHkdfMaxOutputBytes.
void hkdf_expand_parts(const platform::SecretArray<kHkdfHashBytes>& prk,
                       std::span<const std::span<const std::uint8_t>> info_parts,
                       std::span<std::uint8_t> out);

inline std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}
}  // namespace detail

// HKDF-Expand to L bytes. The length is fixed at compile time, so the one way expansion can
// fail (L above 255 blocks) cannot be written.
template <std::size_t L>
platform::SecretArray<L> hkdf_expand(const platform::SecretArray<kHkdfHashBytes>& prk,
                                     std::span<const std::uint8_t> info) {
  static_assert(L > 0 && L <= kHkdfMaxOutputBytes);
  platform::SecretArray<L> out;
  const std::span<const std::uint8_t> parts[] = {info};
  detail::hkdf_expand_parts(prk, parts, out.span());
  return out;
}

// LabeledExtract(salt, label, ikm): extract over "HPKE-v1" || suite_id || label || ikm.
platform::SecretArray<kHkdfHashBytes> labeled_extract(std::span<const std::uint8_t> suite_id,
                                                      std::span<const std::uint8_t> salt,
                                                      std::string_view label,
                                                      std::span<const std::uint8_t> ikm);

// LabeledExpand(prk, label, info, L): expand under
// I2OSP(L, 2) || "HPKE-v1" || suite_id || label || info.
template <std::size_t L>
platform::SecretArray<L> labeled_expand(std::span<const std::uint8_t> suite_id,
                                        const platform::SecretArray<kHkdfHashBytes>& prk, std::string_view label,
                                        std::span<const std::uint8_t> info) {
  static_assert(L > 0 && L <= kHkdfMaxOutputBytes && L <= 0xffff);
  static constexpr std::array<std::uint8_t, 2> kLength = {static_cast<std::uint8_t>(L >> 8),
                                                          static_cast<std::uint8_t>(L & 0xff)};
  platform::SecretArray<L> out;
  const std::span<const std::uint8_t> parts[] = {kLength, detail::bytes_of("HPKE-v1"), suite_id,
                                                 detail::bytes_of(label), info};
  detail::hkdf_expand_parts(prk, parts, out.span());
  return out;
}

// An X25519 key pair. The private key is the 32 bytes as derived; X25519 clamps on use.
struct X25519KeyPair {
  platform::SecretArray<32> private_key;
  std::array<std::uint8_t, 32> public_key;
};

// DeriveKeyPair of DHKEM(X25519, HKDF-SHA256): the private key is
// LabeledExpand(LabeledExtract("", "dkp_prk", ikm), "sk", "", 32) under the KEM suite id.
// Deterministic; the same ikm always gives the same pair.
X25519KeyPair derive_x25519_key_pair(std::span<const std::uint8_t> ikm);

}  // namespace ostrel::crypto
