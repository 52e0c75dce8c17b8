// Hex in and out of secret buffers, for known-answer tests of the crypto layer.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "platform/secret.h"
#include "support/hex.h"

namespace ostrel::testing {

// A platform::SecretArray<N> from exactly N bytes of hex; aborts on any other length.
template <std::size_t N>
platform::SecretArray<N> secret_from_hex(std::string_view hex) {
  const auto bytes = from_hex(hex);
  if (bytes.size() != N) std::abort();
  return platform::SecretArray<N>(std::span<const std::uint8_t, N>(bytes.data(), N));
}

template <class Secret>
std::string secret_hex(const Secret& s) {
  return to_hex(s.span());
}

}  // namespace ostrel::testing
