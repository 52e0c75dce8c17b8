// The system's text forms, shared by every message that prints a value: Debug forms of byte
// strings, bracketed lists. Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ostrel::text {

// Items joined by ", " inside square brackets: "[a, b]".
template <class Range, class Fn>
std::string bracketed(const Range& items, Fn&& show) {
  std::string out = "[";
  bool first = true;
  for (const auto& item : items) {
    if (!first) out += ", ";
    first = false;
    out += show(item);
  }
  out += "]";
  return out;
}

// Bytes as a list of decimal numbers: [0, 17, 255].
std::string decimal_bytes(std::span<const std::uint8_t> bytes);

}  // namespace ostrel::text
