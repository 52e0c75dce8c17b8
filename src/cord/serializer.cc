#include "cord/serializer.h"

#include <climits>

#include "cord/text.h"

namespace ostrel::cord {

namespace {

void append_be(Buffer& out, std::uint64_t value, int bytes) {
  std::uint8_t be[8];
  for (int i = 0; i < bytes; ++i) be[i] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
  append(out, be, static_cast<std::size_t>(bytes));
}

}  // namespace

Status write_len(Buffer& out, std::uint64_t value, Width w) {
  if (value > max_of(w)) return std::unexpected(Error::Overflow);
  append_be(out, value, 1 << static_cast<int>(w));
  return {};
}

Status write_u32_width(Buffer& out, std::uint32_t value, Width w) {
  return write_len(out, value, w);
}

Status write_byte_string(Buffer& out, ByteView bytes) {
  if (auto r = write_len(out, bytes.size(), Width::W32); !r) return r;
  append(out, bytes.data(), bytes.size());
  return {};
}

void Serializer::write_u32(std::uint32_t v) { append_be(out_, v, 4); }

void Serializer::write_u64(std::uint64_t v) { append_be(out_, v, 8); }

Status Serializer::serialize_str(std::string_view text, WidthHint hint) {
  const Width w = width_of(hint);
  if (is_ascii(text)) {
    if (auto r = cord::write_len(out_, text.size(), w); !r) return r;
    append(out_, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    return {};
  }
  if (!is_valid_utf8(text)) return std::unexpected(Error::InvalidUtf8);
  // Texts this long exceed what the normaliser addresses and any reader accepts.
  if (text.size() > INT32_MAX) return std::unexpected(Error::Overflow);
  const NfcText normal = nfc(text);
  const std::string_view v = normal.view();
  if (auto r = cord::write_len(out_, v.size(), w); !r) return r;
  append(out_, reinterpret_cast<const std::uint8_t*>(v.data()), v.size());
  return {};
}

Status Serializer::serialize_bytes(ByteView bytes, WidthHint hint) {
  if (auto r = cord::write_len(out_, bytes.size(), width_of(hint)); !r) return r;
  write_raw(bytes);
  return {};
}

}  // namespace ostrel::cord
