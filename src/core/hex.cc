#include "core/hex.h"

namespace ostrel::core {
namespace {

int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string hex_encode(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xf];
  }
  return out;
}

FrontendResult<std::vector<std::uint8_t>> hex_decode(std::string_view text, std::string_view label) {
  // The prefix is two characters, so it never changes whether the length is odd.
  if (text.size() % 2 != 0) {
    return std::unexpected(FrontendError::invalid_hex(std::string(label), "odd length"));
  }
  if (text.starts_with("0x")) text.remove_prefix(2);
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = nibble(text[i]);
    const int lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) {
      return std::unexpected(FrontendError::invalid_hex(std::string(label), "non-hex character"));
    }
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return out;
}

}  // namespace ostrel::core
