// Hex helpers for test vectors.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::testing {

// Lower-case hex of `bytes`.
std::string to_hex(std::span<const std::uint8_t> bytes);
// Bytes of a hex text; blanks are ignored so vectors can be grouped. Aborts on bad input.
std::vector<std::uint8_t> from_hex(std::string_view hex);
// Bytes of a text, without its terminator.
std::vector<std::uint8_t> bytes_of(std::string_view text);

}  // namespace ostrel::testing
