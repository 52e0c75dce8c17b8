// Made-up types that exercise every construct of the encoding.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "cord/cord.h"
#include "support/hex.h"

namespace ostrel::cord::testing {

struct CounterText {
  std::uint64_t counter = 0;
  std::string text;
  static auto cord_fields(auto& s) { return std::tie(s.counter, s.text); }
  friend bool operator==(const CounterText&, const CounterText&) = default;
};

struct UnitA {
  static constexpr bool cord_unit = true;
  friend bool operator==(const UnitA&, const UnitA&) = default;
};
struct UnitB {
  static constexpr bool cord_unit = true;
  friend bool operator==(const UnitB&, const UnitB&) = default;
};

// Three variants: two without data, one holding a 64-bit integer.
using ThreeWay = std::variant<UnitA, UnitB, std::uint64_t>;

// A variant holding a nested enumeration, to show raw capture at any depth of a payload.
struct Outer {
  std::uint64_t tag = 0;
  ThreeWay inner;
  static auto cord_fields(auto& s) { return std::tie(s.tag, s.inner); }
  friend bool operator==(const Outer&, const Outer&) = default;
};
using TwoWay = std::variant<UnitA, Outer>;

// Recursion for depth tests: each level is a structure around a list (two levels).
struct Nest {
  std::vector<Nest> children;
  static auto cord_fields(auto& s) { return std::tie(s.children); }
  friend bool operator==(const Nest&, const Nest&) = default;
};

enum class Colour : std::uint32_t { Red, Green, Blue };
constexpr std::uint32_t cord_variant_count(Colour) { return 3; }

}  // namespace ostrel::cord::testing
