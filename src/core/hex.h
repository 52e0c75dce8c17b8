// Hexadecimal text of identifiers and digests, as used in file names and front-end input. Pure
// functions; safe from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "errors/frontend_error.h"

namespace ostrel::core {

// Two lower-case digits per byte, high nibble first; no prefix, no separator.
std::string hex_encode(std::span<const std::uint8_t> bytes);

// Digits of either case after an optional "0x" (small x only), any even count. Fails with
// FrontendError::InvalidHex naming `label` and the reason "odd length" or "non-hex character".
// The decoded length is the caller's to check.
FrontendResult<std::vector<std::uint8_t>> hex_decode(std::string_view text, std::string_view label);

}  // namespace ostrel::core
