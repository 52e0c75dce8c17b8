// Bech32 and Bech32m strings (BIP 173, BIP 350): a human-readable prefix, the separator "1", data
// in 5-bit groups and a six-character checksum. Our own codec, with the maximum length left to
// the caller (invitations allow far more than BIP 173's 90 characters). Pure functions; safe from
// any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cord/serializer.h"

namespace ostrel::frontend::invite {

// Characters of the checksum at the end of every string.
inline constexpr std::size_t kBech32ChecksumLength = 6;

// Which checksum constant a string carries.
enum class Bech32Encoding : std::uint8_t { Bech32, Bech32m };

// 5-bit or 8-bit groups, in the encoding's wiping buffer since the data may carry a secret.
using Groups = cord::Buffer;

struct Bech32String {
  std::string prefix;  // as it stood in the text, case kept
  Groups data;         // 5-bit values, without the checksum
  Bech32Encoding encoding = Bech32Encoding::Bech32m;
};

// Decodes `text` exactly as given (no trimming): the separator is the last "1"; the prefix has 1
// to 83 characters, each printable ASCII (33 to 126); every character after the separator is of
// the alphabet, in either case; upper and lower case are not mixed anywhere; at least six
// characters follow the separator; the text has at most `max_length` characters; the checksum is
// valid as Bech32m or, failing that, as Bech32. Nothing when any rule fails.
std::optional<Bech32String> bech32_decode(std::string_view text, std::size_t max_length);

// The lower-case string of `prefix` and 5-bit `data` with the checksum of `encoding`.
// REQUIRES: `prefix` is 1 to 83 characters of printable ASCII without upper-case letters;
// every data value is below 32.
std::string bech32_encode(std::string_view prefix, std::span<const std::uint8_t> data,
                          Bech32Encoding encoding);

// Bytes as 5-bit groups, most significant bit first; the last group is padded with zero bits.
Groups bytes_to_groups(std::span<const std::uint8_t> bytes);

// 5-bit groups as bytes, most significant bit first: a byte whenever 8 bits have gathered; the
// bits left at the end (fewer than 8) are dropped unchecked.
Groups groups_to_bytes(std::span<const std::uint8_t> groups);

}  // namespace ostrel::frontend::invite
