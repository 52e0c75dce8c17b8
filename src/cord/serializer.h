// The writing half of the encoding: primitive writers that append canonical bytes to a caller's
// buffer. A Serializer is owned by one write; no shared state.
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "cord/width.h"
#include "errors/cord_error.h"
#include "platform/secure_memory.h"

namespace ostrel::cord {

// Every encoding is built in a buffer that wipes itself when released: a value's encoding may
// hold a secret (a decrypted value, a sealed identity), and growth must leave no copies behind.
using Buffer = std::vector<std::uint8_t, platform::WipingAllocator<std::uint8_t>>;
using ByteView = std::span<const std::uint8_t>;

// Appends n bytes; the hot path of every writer.
inline void append(Buffer& out, const std::uint8_t* p, std::size_t n) {
  const std::size_t at = out.size();
  if (out.capacity() - at < n) out.reserve(std::max(out.capacity() * 2, at + n));
  out.resize(at + n);
  if (n != 0) std::memcpy(out.data() + at, p, n);
}

// Appends `value` in width class `w` (big-endian); Overflow when it does not fit. Nothing is
// appended on failure.
Status write_len(Buffer& out, std::uint64_t value, Width w);
// Appends a variant index in class `w`; class 3 writes the upper four bytes as zero.
Status write_u32_width(Buffer& out, std::uint32_t value, Width w);
// Appends a byte string as a field: a 4-byte length and the bytes.
Status write_byte_string(Buffer& out, ByteView bytes);

class Serializer {
 public:
  explicit Serializer(Buffer& out) : out_(out) {}

  Buffer& out() { return out_; }

  void write_u8(std::uint8_t v) { out_.push_back(v); }
  void write_u32(std::uint32_t v);
  void write_u64(std::uint64_t v);
  void write_raw(ByteView bytes) { append(out_, bytes.data(), bytes.size()); }

  Status write_len(std::uint64_t value, WidthHint hint) {
    return cord::write_len(out_, value, width_of(hint));
  }
  Status write_variant_index(std::uint32_t index, WidthHint hint) {
    return write_u32_width(out_, index, width_of(hint));
  }
  // A text: its NFC form behind a length in the hint's class. InvalidUtf8 for bytes that are
  // not UTF-8, so nothing unreadable is ever written.
  Status serialize_str(std::string_view text, WidthHint hint);
  // A byte string (list of bytes): its length in the hint's class, then the bytes.
  Status serialize_bytes(ByteView bytes, WidthHint hint);

 private:
  Buffer& out_;
};

}  // namespace ostrel::cord
