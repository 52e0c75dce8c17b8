#include "crypto/random.h"

#include "platform/random.h"

namespace ostrel::crypto {

// Reading the OS source directly gives output indistinguishable from a generator keyed by it,
// with nothing in between to get wrong.

platform::SecretArray<kContentKeyBytes> random_key() {
  platform::SecretArray<kContentKeyBytes> key;
  platform::random_bytes(key.span());
  return key;
}

std::array<std::uint8_t, kContentNonceBytes> random_nonce() {
  std::array<std::uint8_t, kContentNonceBytes> nonce;
  platform::random_bytes(nonce);
  return nonce;
}

std::vector<std::uint8_t> random_key_vec() {
  std::vector<std::uint8_t> bytes(32);
  platform::random_bytes(bytes);
  return bytes;
}

}  // namespace ostrel::crypto
