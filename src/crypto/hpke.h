// HPKE base mode, single shot, for the one suite the vault uses: DHKEM(X25519, HKDF-SHA256),
// HKDF-SHA256, ChaCha20Poly1305. Seals a short plaintext (a content key) to a recipient's X25519
// public key and opens it with the matching private key. Pure functions apart from the
// ephemeral key drawn from the OS for each sealing; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/secret.h"
#include "errors/crypto_error.h"

namespace ostrel::crypto::hpke {

inline constexpr std::size_t kPublicKeyBytes = 32;
inline constexpr std::size_t kPrivateKeyBytes = 32;
inline constexpr std::size_t kEncapsulatedKeyBytes = 32;
inline constexpr std::size_t kTagBytes = 16;
inline constexpr std::size_t kKeyBytes = 32;
inline constexpr std::size_t kNonceBytes = 12;

// What the sender stores: the encapsulated key (the ephemeral public key) and the ciphertext
// (plaintext length + 16 bytes).
struct Sealed {
  std::vector<std::uint8_t> encapsulated_key;
  std::vector<std::uint8_t> ciphertext;
};

// Seals `plaintext` to `recipient_public_key` under a fresh ephemeral key whose 32 bytes of
// keying material come from the OS. A key that is not 32 bytes is InvalidHpkePublicKey; a
// small-order key (all-zero shared point) is Hpke.
CryptoResult<Sealed> seal(std::span<const std::uint8_t> recipient_public_key,
                          std::span<const std::uint8_t> info, std::span<const std::uint8_t> aad,
                          std::span<const std::uint8_t> plaintext);

// Opens what seal made. An encapsulated key that is not 32 bytes is InvalidHpkeEncapsulatedKey;
// a wrong key, info, aad or ciphertext is Hpke.
CryptoResult<platform::SecretBytes> open(std::span<const std::uint8_t> encapsulated_key,
                                         const platform::SecretArray<kPrivateKeyBytes>& recipient_private_key,
                                         std::span<const std::uint8_t> info,
                                         std::span<const std::uint8_t> aad,
                                         std::span<const std::uint8_t> ciphertext);
// As open, for a recipient that already holds its public key, which saves recomputing it.
// REQUIRES: `recipient_public_key` is the public key of `recipient_private_key`.
CryptoResult<platform::SecretBytes> open(std::span<const std::uint8_t> encapsulated_key,
                                         const platform::SecretArray<kPrivateKeyBytes>& recipient_private_key,
                                         std::span<const std::uint8_t, kPublicKeyBytes> recipient_public_key,
                                         std::span<const std::uint8_t> info,
                                         std::span<const std::uint8_t> aad,
                                         std::span<const std::uint8_t> ciphertext);

}  // namespace ostrel::crypto::hpke
