#include "support/hex.h"

#include <cstdlib>

namespace ostrel::testing {

std::string to_hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::vector<std::uint8_t> from_hex(std::string_view hex) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    std::abort();
  };
  std::vector<std::uint8_t> out;
  int hi = -1;
  for (char c : hex) {
    if (c == ' ' || c == '\n') continue;
    if (hi < 0) {
      hi = nibble(c);
    } else {
      out.push_back(static_cast<std::uint8_t>(hi << 4 | nibble(c)));
      hi = -1;
    }
  }
  if (hi >= 0) std::abort();
  return out;
}

std::vector<std::uint8_t> bytes_of(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace ostrel::testing
