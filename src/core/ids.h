// Identifier derivations, key ids and handles. Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "errors/core_error.h"
#include "errors/identifiers.h"

namespace ostrel::core {

// Domain hash "ostrel.key.v1" over the Ed25519 signing public key as a byte string. Names the
// vault root to trust.
CoreResult<HashValue> key_id(std::span<const std::uint8_t> signing_public_key);

// Trims Unicode White_Space at both ends and lowers ASCII capitals; nothing else changes.
std::string normalize_handle(std::string_view handle);

// 1 to 64 bytes of a-z, 0-9, '-' and '_', starting and ending with a letter or digit.
bool is_valid_handle(std::string_view handle);

}  // namespace ostrel::core
