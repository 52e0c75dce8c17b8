// IdBytes: the bytes of an identifier, hash or seed. Up to 32 bytes (every digest the system
// derives, every seed it draws) are held inline, so an id costs no allocation; a longer byte
// string, which decoding must still accept, goes to the heap. A plain value with one owner:
// copies copy the bytes. Safe to pass between threads.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace ostrel {

class IdBytes {
 public:
  static constexpr std::size_t kInline = 32;

  IdBytes() = default;
  explicit IdBytes(std::span<const std::uint8_t> bytes) { assign(bytes); }
  IdBytes(const std::vector<std::uint8_t>& bytes) { assign(bytes); }  // NOLINT: a copy of the bytes
  IdBytes(std::initializer_list<std::uint8_t> bytes) { assign({bytes.begin(), bytes.size()}); }
  IdBytes(const IdBytes& other) { assign(other.span()); }
  IdBytes(IdBytes&& other) noexcept : size_(other.size_) {
    std::memcpy(storage_, other.storage_, sizeof storage_);
    other.size_ = 0;
  }
  IdBytes& operator=(const IdBytes& other) {
    if (this != &other) assign(other.span());
    return *this;
  }
  IdBytes& operator=(IdBytes&& other) noexcept {
    if (this != &other) {
      release();
      size_ = other.size_;
      std::memcpy(storage_, other.storage_, sizeof storage_);
      other.size_ = 0;
    }
    return *this;
  }
  ~IdBytes() { release(); }

  // Replaces the bytes with a copy of `bytes`.
  void assign(std::span<const std::uint8_t> bytes);

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const std::uint8_t* data() const { return on_heap() ? heap() : storage_; }
  std::uint8_t* data() { return on_heap() ? heap() : storage_; }
  const std::uint8_t* begin() const { return data(); }
  const std::uint8_t* end() const { return data() + size_; }
  std::uint8_t* begin() { return data(); }
  std::uint8_t* end() { return data() + size_; }
  std::uint8_t operator[](std::size_t i) const { return data()[i]; }
  std::uint8_t& operator[](std::size_t i) { return data()[i]; }
  std::span<const std::uint8_t> span() const { return {data(), size_}; }
  operator std::span<const std::uint8_t>() const { return span(); }  // NOLINT: bytes are bytes

  // Byte order: the first differing byte decides, else the shorter comes first.
  friend bool operator==(const IdBytes& a, const IdBytes& b) {
    return a.size_ == b.size_ && (a.size_ == 0 || std::memcmp(a.data(), b.data(), a.size_) == 0);
  }
  friend std::strong_ordering operator<=>(const IdBytes& a, const IdBytes& b) {
    const std::size_t n = a.size_ < b.size_ ? a.size_ : b.size_;
    if (n != 0) {
      if (const int c = std::memcmp(a.data(), b.data(), n); c != 0) return c <=> 0;
    }
    return a.size_ <=> b.size_;
  }

  // Decoded as a byte string: the encoding copies the bytes in (see cord/codec.h).
  static constexpr bool cord_byte_string = true;
  void cord_assign(std::span<const std::uint8_t> bytes, bool /*may_view*/) { assign(bytes); }

 private:
  bool on_heap() const { return size_ > kInline; }
  std::uint8_t* heap() const {
    std::uint8_t* p;
    std::memcpy(&p, storage_, sizeof p);
    return p;
  }
  void release() {
    if (on_heap()) delete[] heap();
    size_ = 0;
  }

  // The bytes themselves, or (above kInline) the address of their heap copy.
  alignas(std::uint32_t) std::uint8_t storage_[kInline] = {};
  std::uint32_t size_ = 0;
};

// Bytes as a list of decimal numbers, the Debug form ids and messages show: [0, 17, 255].
std::string decimal_bytes(std::span<const std::uint8_t> bytes);

}  // namespace ostrel
