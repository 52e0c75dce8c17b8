#include "platform/keyed_hash.h"

#include <sodium.h>

#include <array>
#include <cstring>

#include "platform/random.h"

namespace ostrel::platform {
namespace {

const std::array<std::uint8_t, crypto_shorthash_KEYBYTES>& table_key() {
  static const auto key = [] {
    std::array<std::uint8_t, crypto_shorthash_KEYBYTES> k{};
    random_bytes(k);
    return k;
  }();
  return key;
}

}  // namespace

std::size_t hash_bytes(std::span<const std::uint8_t> bytes) {
  std::uint8_t out[crypto_shorthash_BYTES];
  crypto_shorthash(out, bytes.data(), bytes.size(), table_key().data());
  std::size_t h;
  std::memcpy(&h, out, sizeof h);
  return h;
}

}  // namespace ostrel::platform
