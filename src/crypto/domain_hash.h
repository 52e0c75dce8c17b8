// The domain-separated hash behind every identifier, record hash and file digest. Pure
// functions; safe from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "cord/codec.h"
#include "errors/core_error.h"
#include "errors/try.h"
#include "ids/identifiers.h"

namespace ostrel::crypto {

// SHA-256 over three parts, each behind its length as a 64-bit big-endian integer:
// "ostrel.hash.v1", the purpose tag, the data.
HashValue domain_hash(std::string_view tag, std::span<const std::uint8_t> data);

// domain_hash of the value's canonical encoding; an encoding failure is CoreError::Cord.
template <class T>
CoreResult<HashValue> domain_hash_cord(std::string_view tag, const T& value) {
  OSTREL_TRY_ASSIGN(const auto bytes, cord::to_vec(value));
  return domain_hash(tag, bytes);
}

}  // namespace ostrel::crypto
