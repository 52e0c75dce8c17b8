#include "errors/identifiers.h"

#include <sodium.h>

#include <array>
#include <cstring>

#include "errors/text_form.h"
#include "platform/random.h"

namespace ostrel {
namespace {

const std::array<std::uint8_t, crypto_shorthash_KEYBYTES>& table_key() {
  static const auto key = [] {
    std::array<std::uint8_t, crypto_shorthash_KEYBYTES> k{};
    platform::random_bytes(k);
    return k;
  }();
  return key;
}

}  // namespace

std::string HashValue::debug() const { return "HashValue(" + text::decimal_bytes(bytes) + ")"; }

std::string IdSeed::debug() const { return "IdSeed(" + text::decimal_bytes(bytes) + ")"; }

std::size_t hash_bytes(std::span<const std::uint8_t> bytes) {
  std::uint8_t out[crypto_shorthash_BYTES];
  crypto_shorthash(out, bytes.data(), bytes.size(), table_key().data());
  std::size_t h;
  std::memcpy(&h, out, sizeof h);
  return h;
}

}  // namespace ostrel
