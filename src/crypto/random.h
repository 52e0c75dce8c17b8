// Random content keys, nonces and identifiers. Each draw reads its bytes straight from the OS
// random source, so no generator state exists to share or to leak; safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/secret.h"

namespace ostrel::crypto {

inline constexpr std::size_t kContentKeyBytes = 32;
inline constexpr std::size_t kContentNonceBytes = 12;

// 32 random bytes to key a ChaCha20-Poly1305 content encryption (or seed an HPKE ephemeral key).
platform::SecretArray<kContentKeyBytes> random_key();

// 12 random bytes: a content nonce. Not secret, only never to repeat under one key.
std::array<std::uint8_t, kContentNonceBytes> random_nonce();

// 32 random bytes as a byte string, for public identifiers such as transaction ids.
std::vector<std::uint8_t> random_key_vec();

}  // namespace ostrel::crypto
