// Width classes of length prefixes, count prefixes and variant indexes, and the width hints that
// select them. Pure values; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ostrel::cord {

// Prefix width: class 0 one byte, 1 two, 2 four (the default), 3 eight; all big-endian.
enum class Width : std::uint8_t { W8 = 0, W16 = 1, W32 = 2, W64 = 3 };

// A pending hint chooses the class of its value's own first prefix. It travels as an explicit
// argument of the value being written or read and is never handed to fields, elements or
// variant payloads.
enum class WidthHint : std::uint8_t { None = 0, Varint = 1, Width8 = 2, Width16 = 3, Width64 = 4 };

constexpr Width width_of(WidthHint hint) {
  // The byte table 02 02 00 01 03 indexed by the hint number.
  constexpr Width table[] = {Width::W32, Width::W32, Width::W8, Width::W16, Width::W64};
  return table[static_cast<std::uint8_t>(hint)];
}

constexpr std::uint64_t max_of(Width w) {
  switch (w) {
    case Width::W8: return 0xff;
    case Width::W16: return 0xffff;
    case Width::W32: return 0xffffffff;
    case Width::W64: return ~std::uint64_t{0};
  }
  return 0;
}

// The marker names that change how a wrapped value is written and read. Every other name
// leaves the encoding untouched.
namespace marker {
inline constexpr std::string_view kEvolving8 = "__cord_evolving8";
inline constexpr std::string_view kEvolving16 = "__cord_evolving16";
inline constexpr std::string_view kEvolving32 = "__cord_evolving32";
inline constexpr std::string_view kEvolving8Raw = "__cord_evolving8_raw";
inline constexpr std::string_view kEvolving16Raw = "__cord_evolving16_raw";
inline constexpr std::string_view kEvolving32Raw = "__cord_evolving32_raw";
inline constexpr std::string_view kWidth8 = "__cord_width8";
inline constexpr std::string_view kWidth16 = "__cord_width16";
inline constexpr std::string_view kWidth64 = "__cord_width64";
inline constexpr std::string_view kVarint = "__cord_varint";
inline constexpr std::string_view kUuid = "__cord_uuid";
inline constexpr std::string_view kSet = "__cord_set";
}  // namespace marker

// The length class of an evolving marker name; nullopt for every other name. Exact comparison
// of the whole name.
constexpr std::optional<Width> evolving_width(std::string_view name) {
  switch (name.size()) {
    case 16:
      if (name == marker::kEvolving8) return Width::W8;
      break;
    case 17:
      if (name == marker::kEvolving16) return Width::W16;
      if (name == marker::kEvolving32) return Width::W32;
      break;
    case 20:
      if (name == marker::kEvolving8Raw) return Width::W8;
      break;
    case 21:
      if (name == marker::kEvolving16Raw) return Width::W16;
      if (name == marker::kEvolving32Raw) return Width::W32;
      break;
    default: break;
  }
  return std::nullopt;
}

// The hint a width or varint marker sets; nullopt for every other name.
constexpr std::optional<WidthHint> marker_hint(std::string_view name) {
  if (name == marker::kVarint) return WidthHint::Varint;
  if (name == marker::kWidth8) return WidthHint::Width8;
  if (name == marker::kWidth16) return WidthHint::Width16;
  if (name == marker::kWidth64) return WidthHint::Width64;
  return std::nullopt;
}

}  // namespace ostrel::cord
