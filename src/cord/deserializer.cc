#include "cord/deserializer.h"

#include "cord/text.h"
#include "errors/try.h"

namespace ostrel::cord {

Result<std::uint32_t> Deserializer::read_u32(WidthHint hint) {
  const Width w = width_of(hint);
  const int n = 1 << static_cast<int>(w);
  if (remaining_ < static_cast<std::size_t>(n)) return std::unexpected(Error::UnexpectedEnd);
  const std::uint64_t v = take_be(n);
  if (v > 0xffffffffULL) return std::unexpected(Error::Overflow);
  return static_cast<std::uint32_t>(v);
}

Result<std::uint64_t> Deserializer::length_above(std::uint64_t v, std::uint64_t bound) {
  return std::unexpected(Error::length_limit_exceeded(v, bound));
}

Result<std::string_view> Deserializer::read_str_width(Width w, std::uint64_t bound) {
  OSTREL_TRY_ASSIGN(auto len, read_len_width(w, bound));
  OSTREL_TRY_ASSIGN(auto bytes, take_bytes(len));
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (is_ascii(text)) return text;
  if (!is_valid_utf8(text)) return std::unexpected(Error::InvalidUtf8);
  if (!is_nfc(text)) return std::unexpected(Error::NotNfc);
  return text;
}

}  // namespace ostrel::cord
