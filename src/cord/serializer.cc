#include "cord/serializer.h"

#include <climits>

#include "cord/text.h"

namespace ostrel::cord {

Status write_len(Buffer& out, std::uint64_t value, Width w) {
  if (value > max_of(w)) return std::unexpected(Error::Overflow);
  const int bytes = 1 << static_cast<int>(w);
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return {};
}

Status write_u32_width(Buffer& out, std::uint32_t value, Width w) {
  return write_len(out, value, w);
}

Status write_byte_string(Buffer& out, ByteView bytes) {
  if (auto r = write_len(out, bytes.size(), Width::W32); !r) return r;
  out.insert(out.end(), bytes.begin(), bytes.end());
  return {};
}

void Serializer::write_u32(std::uint32_t v) {
  for (int i = 3; i >= 0; --i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Serializer::write_u64(std::uint64_t v) {
  for (int i = 7; i >= 0; --i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Status Serializer::serialize_str(std::string_view text, WidthHint hint) {
  const Width w = width_of(hint);
  if (is_ascii(text)) {
    if (auto r = cord::write_len(out_, text.size(), w); !r) return r;
    out_.insert(out_.end(), text.begin(), text.end());
    return {};
  }
  if (!is_valid_utf8(text)) return std::unexpected(Error::InvalidUtf8);
  // Texts this long exceed what the normaliser addresses and any reader accepts.
  if (text.size() > INT32_MAX) return std::unexpected(Error::Overflow);
  const NfcText normal = nfc(text);
  const std::string_view v = normal.view();
  if (auto r = cord::write_len(out_, v.size(), w); !r) return r;
  out_.insert(out_.end(), v.begin(), v.end());
  return {};
}

Status Serializer::serialize_bytes(ByteView bytes, WidthHint hint) {
  if (auto r = cord::write_len(out_, bytes.size(), width_of(hint)); !r) return r;
  write_raw(bytes);
  return {};
}

}  // namespace ostrel::cord
