// The steps of HPKE seal and open, and sealing from given keying material: exposed for tests
// (published vectors check each step on its own); the vault calls only hpke.h. Pure functions;
// safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "crypto/hpke.h"
#include "platform/secret.h"
#include "errors/crypto_error.h"

namespace ostrel::crypto::hpke {

// As seal, with the ephemeral key pair derived from the given keying material instead of fresh
// OS bytes. Only for reproducing published vectors: sealing twice with the same material to
// the same recipient reuses the key and nonce.
CryptoResult<Sealed> seal_with_ephemeral_ikm(std::span<const std::uint8_t> recipient_public_key,
                                             const platform::SecretArray<32>& ephemeral_ikm,
                                             std::span<const std::uint8_t> info,
                                             std::span<const std::uint8_t> aad,
                                             std::span<const std::uint8_t> plaintext);

struct Encapsulation {
  platform::SecretArray<32> shared_secret;
  std::array<std::uint8_t, kEncapsulatedKeyBytes> encapsulated_key;
};

// Encap with the ephemeral pair DeriveKeyPair(ephemeral_ikm).
CryptoResult<Encapsulation> encap(std::span<const std::uint8_t, kPublicKeyBytes> recipient_public_key,
                                  const platform::SecretArray<32>& ephemeral_ikm);
CryptoResult<platform::SecretArray<32>> decap(std::span<const std::uint8_t, kEncapsulatedKeyBytes> encapsulated_key,
                                              const platform::SecretArray<kPrivateKeyBytes>& recipient_private_key);
// Decap for a recipient that already holds its public key.
CryptoResult<platform::SecretArray<32>> decap(std::span<const std::uint8_t, kEncapsulatedKeyBytes> encapsulated_key,
                                              const platform::SecretArray<kPrivateKeyBytes>& recipient_private_key,
                                              std::span<const std::uint8_t, kPublicKeyBytes> recipient_public_key);

// mode_base || psk_id_hash || info_hash, with an empty psk_id.
std::array<std::uint8_t, 65> key_schedule_context(std::span<const std::uint8_t> info);

struct KeySchedule {
  platform::SecretArray<kKeyBytes> key;
  platform::SecretArray<kNonceBytes> base_nonce;
};

// KeySchedule of base mode (empty psk and psk_id). The exporter secret is not derived: nothing
// exports from a single-shot context.
KeySchedule key_schedule(const platform::SecretArray<32>& shared_secret, std::span<const std::uint8_t> info);

}  // namespace ostrel::crypto::hpke
