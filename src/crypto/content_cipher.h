// The cipher steps a sealed secret is made of: ChaCha20-Poly1305 (IETF) over the value under a
// content key, and HPKE wrapping that key for each reader under an info bound to the reader's
// slot. Pure functions apart from HPKE's ephemeral key drawn from the OS; safe from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "cord/serializer.h"
#include "crypto/hpke.h"
#include "crypto/random.h"
#include "errors/crypto_error.h"
#include "platform/secret.h"

namespace ostrel::crypto {

using ContentKey = platform::SecretArray<kContentKeyBytes>;
using ContentNonce = std::span<const std::uint8_t, kContentNonceBytes>;

// ChaCha20-Poly1305 (IETF): the ciphertext is the plaintext's length plus the 16-byte tag.
CryptoResult<std::vector<std::uint8_t>> aead_encrypt(const ContentKey& key, ContentNonce nonce,
                                                     std::span<const std::uint8_t> plaintext,
                                                     std::span<const std::uint8_t> associated_data);
// Aead for a wrong key, nonce, associated data or tag, and for a ciphertext shorter than a tag.
CryptoResult<platform::SecretBytes> aead_decrypt(const ContentKey& key, ContentNonce nonce,
                                                 std::span<const std::uint8_t> ciphertext,
                                                 std::span<const std::uint8_t> associated_data);

// Wraps a content key for the holder of `recipient_public_key` under the info of `context`.
CryptoResult<hpke::Sealed> hpke_seal(std::span<const std::uint8_t> recipient_public_key,
                                     std::span<const std::uint8_t> context,
                                     std::span<const std::uint8_t> associated_data,
                                     const ContentKey& content_key);

// Unwraps what hpke_seal made; a plaintext that is not 32 bytes is InvalidLength ("content key").
CryptoResult<ContentKey> open_content_key(const platform::SecretArray<32>& recipient_private_key,
                                          std::span<const std::uint8_t, 32> recipient_public_key,
                                          std::span<const std::uint8_t> encapsulated_key,
                                          std::span<const std::uint8_t> context,
                                          std::span<const std::uint8_t> associated_data,
                                          std::span<const std::uint8_t> wrapped_key);

}  // namespace ostrel::crypto
