#include "frontend/invite/bech32.h"

#include <array>

namespace ostrel::frontend::invite {
namespace {

constexpr std::string_view kAlphabet = "qpzry9x8gf2tvdw0s3jn54khce6mua7l";
constexpr std::size_t kMaxPrefixLength = 83;

constexpr std::uint32_t checksum_constant(Bech32Encoding encoding) {
  return encoding == Bech32Encoding::Bech32 ? 1u : 0x2bc830a3u;
}

// The value of each alphabet character in either case, -1 for every other byte.
constexpr std::array<std::int8_t, 256> kValues = [] {
  std::array<std::int8_t, 256> v{};
  v.fill(-1);
  for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
    const auto c = static_cast<unsigned char>(kAlphabet[i]);
    v[c] = static_cast<std::int8_t>(i);
    if (c >= 'a' && c <= 'z') v[c - 'a' + 'A'] = static_cast<std::int8_t>(i);
  }
  return v;
}();

std::uint32_t polymod_step(std::uint32_t chk, std::uint8_t value) {
  static constexpr std::uint32_t kGenerator[5] = {0x3b6a57b2, 0x26508e6d, 0x1ea119fa, 0x3d4233dd, 0x2a1462b3};
  const std::uint32_t top = chk >> 25;
  chk = ((chk & 0x1ffffff) << 5) ^ value;
  for (int i = 0; i < 5; ++i) {
    if ((top >> i) & 1) chk ^= kGenerator[i];
  }
  return chk;
}

// The checksum state after the expanded prefix (already lower case) and `data`.
std::uint32_t polymod(std::string_view prefix, std::span<const std::uint8_t> data) {
  std::uint32_t chk = 1;
  for (char c : prefix) chk = polymod_step(chk, static_cast<std::uint8_t>(static_cast<unsigned char>(c) >> 5));
  chk = polymod_step(chk, 0);
  for (char c : prefix) chk = polymod_step(chk, static_cast<std::uint8_t>(c & 31));
  for (std::uint8_t v : data) chk = polymod_step(chk, v);
  return chk;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Regroups bit groups of width `from` into groups of width `to`, most significant bit first.
Groups regroup(std::span<const std::uint8_t> in, int from, int to, bool pad) {
  Groups out;
  out.reserve(in.size() * from / to + 1);
  std::uint32_t acc = 0;
  int bits = 0;
  const std::uint32_t mask = (1u << to) - 1;
  for (std::uint8_t v : in) {
    acc = ((acc << from) | v) & 0xfff;  // at most from + to - 1 bits are ever pending
    bits += from;
    while (bits >= to) {
      bits -= to;
      out.push_back(static_cast<std::uint8_t>((acc >> bits) & mask));
    }
  }
  if (pad && bits > 0) out.push_back(static_cast<std::uint8_t>((acc << (to - bits)) & mask));
  return out;
}

}  // namespace

std::optional<Bech32String> bech32_decode(std::string_view text, std::size_t max_length) {
  if (text.size() > max_length) return std::nullopt;
  const std::size_t separator = text.rfind('1');
  if (separator == std::string_view::npos || separator == 0 || separator > kMaxPrefixLength) return std::nullopt;
  if (text.size() - separator - 1 < kBech32ChecksumLength) return std::nullopt;

  bool has_lower = false;
  bool has_upper = false;
  for (char c : text) {
    has_lower |= c >= 'a' && c <= 'z';
    has_upper |= c >= 'A' && c <= 'Z';
  }
  if (has_lower && has_upper) return std::nullopt;

  const std::string_view prefix = text.substr(0, separator);
  std::string lowered;
  lowered.reserve(prefix.size());
  for (char c : prefix) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 33 || b > 126) return std::nullopt;
    lowered += lower(c);
  }

  Groups values;
  values.reserve(text.size() - separator - 1);
  for (char c : text.substr(separator + 1)) {
    const std::int8_t v = kValues[static_cast<unsigned char>(c)];
    if (v < 0) return std::nullopt;
    values.push_back(static_cast<std::uint8_t>(v));
  }

  const std::uint32_t chk = polymod(lowered, values);
  Bech32Encoding encoding;
  if (chk == checksum_constant(Bech32Encoding::Bech32m)) {
    encoding = Bech32Encoding::Bech32m;
  } else if (chk == checksum_constant(Bech32Encoding::Bech32)) {
    encoding = Bech32Encoding::Bech32;
  } else {
    return std::nullopt;
  }
  values.resize(values.size() - kBech32ChecksumLength);
  return Bech32String{std::string(prefix), std::move(values), encoding};
}

std::string bech32_encode(std::string_view prefix, std::span<const std::uint8_t> data, Bech32Encoding encoding) {
  Groups values(data.begin(), data.end());
  values.resize(values.size() + kBech32ChecksumLength, 0);
  const std::uint32_t chk = polymod(prefix, values) ^ checksum_constant(encoding);
  std::string out;
  out.reserve(prefix.size() + 1 + values.size());
  out.append(prefix);
  out += '1';
  for (std::uint8_t v : data) out += kAlphabet[v];
  for (std::size_t i = 0; i < kBech32ChecksumLength; ++i) out += kAlphabet[(chk >> (5 * (5 - i))) & 31];
  return out;
}

Groups bytes_to_groups(std::span<const std::uint8_t> bytes) { return regroup(bytes, 8, 5, true); }

Groups groups_to_bytes(std::span<const std::uint8_t> groups) { return regroup(groups, 5, 8, false); }

}  // namespace ostrel::frontend::invite
