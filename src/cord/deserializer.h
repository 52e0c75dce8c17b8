// The reading half of the encoding: a strict, forward-only reader over borrowed bytes. A reader
// is owned by one decoding call; it takes no locks and never copies its input.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

#include "cord/width.h"
#include "errors/cord_error.h"

namespace ostrel::cord {

class Deserializer {
 public:
  static constexpr std::size_t kMaxDepth = 128;
  static constexpr std::uint64_t kMaxLength = 16'777'216;

  explicit Deserializer(std::span<const std::uint8_t> input)
      : pos_(input.data()), remaining_(input.size()) {}

  // The owner of the input, when it is kept alive by shared ownership: values that keep views
  // of the input (records keep their canonical bytes) then share it instead of copying.
  void set_owner(std::shared_ptr<const void> owner) { owner_ = std::move(owner); }
  const std::shared_ptr<const void>& owner() const { return owner_; }

  // Whether decoded values may view the input instead of copying it: set only by a reader whose
  // values keep the input alive as long as they live (a record keeps its own bytes).
  bool may_view() const { return may_view_; }
  void set_may_view(bool may_view) { may_view_ = may_view; }

  std::size_t remaining() const { return remaining_; }
  const std::uint8_t* position() const { return pos_; }
  std::size_t depth() const { return depth_; }
  // The bound of every single length or count: kMaxLength, unless a reader of local files that
  // hold whole files as byte strings (the journals) raises it to its file's limit.
  std::uint64_t max_length() const { return max_length_; }
  void set_max_length(std::uint64_t max_length) { max_length_ = max_length; }
  // Starts at the depth of the reader this one continues (a copy of the same bytes).
  void set_depth(std::size_t depth) { depth_ = depth; }

  // The next n bytes as a view; UnexpectedEnd (nothing consumed) when fewer remain.
  Result<std::span<const std::uint8_t>> take_bytes(std::size_t n) {
    if (n > remaining_) return std::unexpected(Error::UnexpectedEnd);
    std::span<const std::uint8_t> v(pos_, n);
    pos_ += n;
    remaining_ -= n;
    return v;
  }
  Result<std::uint8_t> read_u8() {
    if (remaining_ < 1) return std::unexpected(Error::UnexpectedEnd);
    --remaining_;
    return *pos_++;
  }
  // Fixed-width integer fields; they never consult a hint.
  Result<std::uint32_t> read_u32_field() {
    if (remaining_ < 4) return std::unexpected(Error::UnexpectedEnd);
    return static_cast<std::uint32_t>(take_be(4));
  }
  Result<std::uint64_t> read_u64_field() {
    if (remaining_ < 8) return std::unexpected(Error::UnexpectedEnd);
    return take_be(8);
  }

  // A variant index in the hint's width. The 8-byte form is consumed whole and fails with
  // Overflow when its upper four bytes are not zero.
  Result<std::uint32_t> read_u32(WidthHint hint);
  // A length or element count in the hint's width, bounded by max_length().
  Result<std::uint64_t> read_len(WidthHint hint) { return read_len_width(width_of(hint), max_length_); }
  // Inline: every length and count of a decoding passes here.
  Result<std::uint64_t> read_len_width(Width w, std::uint64_t bound) {
    const int n = 1 << static_cast<int>(w);
    if (remaining_ < static_cast<std::size_t>(n)) return std::unexpected(Error::UnexpectedEnd);
    const std::uint64_t v = take_be(n);
    if (v > bound) [[unlikely]] return length_above(v, bound);
    return v;
  }
  // A text in the hint's width, bounded by max_length(), as a view into the input.
  Result<std::string_view> read_str(WidthHint hint) { return read_str_width(width_of(hint), max_length_); }
  // Length, bound, UTF-8, then NFC (skipped for all-ASCII text).
  Result<std::string_view> read_str_width(Width w, std::uint64_t bound);

  // Depth accounting of compound values: 128 levels are allowed, the 129th is refused.
  Status enter() {
    if (depth_ + 1 > kMaxDepth) return std::unexpected(Error::DepthLimitExceeded);
    ++depth_;
    return {};
  }
  void leave() { --depth_; }

 private:
  // The big-endian number in the next n bytes, read in one load.
  // REQUIRES: n is 1, 2, 4 or 8, and n <= remaining_.
  std::uint64_t take_be(int n) {
    std::uint64_t v;
    switch (n) {
      case 1: v = pos_[0]; break;
      case 2: v = load_be<std::uint16_t>(pos_); break;
      case 4: v = load_be<std::uint32_t>(pos_); break;
      default: v = load_be<std::uint64_t>(pos_); break;
    }
    pos_ += n;
    remaining_ -= static_cast<std::size_t>(n);
    return v;
  }
  template <class U>
  static U load_be(const std::uint8_t* p) {
    U v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = std::byteswap(v);
    return v;
  }
  static Result<std::uint64_t> length_above(std::uint64_t v, std::uint64_t bound);

  const std::uint8_t* pos_;
  std::size_t remaining_;
  std::size_t depth_ = 0;
  std::uint64_t max_length_ = kMaxLength;
  bool may_view_ = false;
  std::shared_ptr<const void> owner_;
};

}  // namespace ostrel::cord
