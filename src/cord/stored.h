// ByteString and Text: the byte strings and texts of stored values. Each owns its bytes, or views
// bytes that the value holding it keeps alive: a record decoded from a file views the file (or
// its own copy of its bytes) instead of copying every key, signature, path segment and label.
//
// Views are made in one place only, by a reader whose values keep its input alive as long as
// they live (Deserializer::may_view, set by the record decoder). Every copy owns its bytes, so a
// field or body copied out of a record never outlives what it views; what must refer to a record
// without copying holds the record (core::RecordPart). Equality and order are by content, byte by
// byte (unsigned), a proper prefix first. Values; safe to pass between threads.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel::cord {

namespace detail {

// Storage shared by ByteString and Text: a pointer and a length whose low bit says whether the
// bytes are owned (allocated here) or viewed.
template <class Char>
class Stored {
 public:
  Stored() = default;
  Stored(const Char* p, std::size_t n) { own(p, n); }
  Stored(const Stored& other) { own(other.data_, other.size()); }
  Stored(Stored&& other) noexcept : data_(other.data_), bits_(other.bits_) {
    other.data_ = nullptr;
    other.bits_ = 0;
  }
  Stored& operator=(const Stored& other) {
    if (this != &other) {
      Stored copy(other);
      swap(copy);
    }
    return *this;
  }
  Stored& operator=(Stored&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      bits_ = std::exchange(other.bits_, 0);
    }
    return *this;
  }
  ~Stored() { release(); }

  // A view of `n` elements at `p`. REQUIRES: whoever holds the result keeps them alive and
  // unchanged for as long as it lives.
  static Stored view(const Char* p, std::size_t n) {
    Stored s;
    s.data_ = p;
    s.bits_ = n << 1;
    return s;
  }

  const Char* data() const { return data_; }
  std::size_t size() const { return bits_ >> 1; }
  bool empty() const { return size() == 0; }
  // Whether the bytes are another value's (a record's).
  bool is_view() const { return size() != 0 && (bits_ & 1) == 0; }

  // The elements, made owned first so a write never reaches viewed bytes.
  Char* mutable_data() {
    if (is_view()) own(data_, size());
    return const_cast<Char*>(data_);
  }

  void swap(Stored& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(bits_, other.bits_);
  }

  static int compare(const Stored& a, const Stored& b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    if (n != 0) {
      if (const int c = std::memcmp(a.data_, b.data_, n); c != 0) return c;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
  }

 private:
  void own(const Char* p, std::size_t n) {
    Char* copy = nullptr;
    if (n != 0) {
      copy = new Char[n];
      std::memcpy(copy, p, n);
    }
    release();
    data_ = copy;
    bits_ = (n << 1) | 1;
  }
  void release() {
    if ((bits_ & 1) != 0) delete[] data_;
    data_ = nullptr;
    bits_ = 0;
  }

  const Char* data_ = nullptr;
  std::size_t bits_ = 0;  // size << 1 | owned
};

}  // namespace detail

// A public byte string of a stored value: a key, a signature, a nonce, a ciphertext.
class ByteString {
 public:
  ByteString() = default;
  ByteString(std::span<const std::uint8_t> bytes) : s_(bytes.data(), bytes.size()) {}  // NOLINT: a copy
  ByteString(const std::vector<std::uint8_t>& bytes) : s_(bytes.data(), bytes.size()) {}  // NOLINT: a copy
  ByteString(std::initializer_list<std::uint8_t> bytes) : s_(bytes.begin(), bytes.size()) {}
  // A view. REQUIRES: as detail::Stored::view.
  static ByteString view(std::span<const std::uint8_t> bytes) { return ByteString(Storage::view(bytes.data(), bytes.size())); }

  const std::uint8_t* data() const { return s_.data(); }
  std::uint8_t* data() { return s_.mutable_data(); }
  std::size_t size() const { return s_.size(); }
  bool empty() const { return s_.empty(); }
  bool is_view() const { return s_.is_view(); }
  const std::uint8_t* begin() const { return data(); }
  const std::uint8_t* end() const { return data() + size(); }
  std::uint8_t operator[](std::size_t i) const { return data()[i]; }
  std::uint8_t& operator[](std::size_t i) { return data()[i]; }
  std::span<const std::uint8_t> span() const { return {data(), size()}; }
  operator std::span<const std::uint8_t>() const { return span(); }  // NOLINT: bytes are bytes
  // An owned vector of the bytes.
  std::vector<std::uint8_t> to_vector() const { return {begin(), end()}; }
  // Edits of an owned copy (tests reshape payloads with them).
  void push_back(std::uint8_t b) {
    std::vector<std::uint8_t> v = to_vector();
    v.push_back(b);
    *this = ByteString(v);
  }
  void pop_back() { *this = ByteString(span().first(size() - 1)); }

  // Decoded as a byte string, viewing the input when the reader allows it (cord/codec.h).
  static constexpr bool cord_byte_string = true;
  void cord_assign(std::span<const std::uint8_t> bytes, bool may_view) {
    *this = may_view ? view(bytes) : ByteString(bytes);
  }

  friend bool operator==(const ByteString& a, const ByteString& b) { return Storage::compare(a.s_, b.s_) == 0; }
  friend std::strong_ordering operator<=>(const ByteString& a, const ByteString& b) {
    return Storage::compare(a.s_, b.s_) <=> 0;
  }

 private:
  using Storage = detail::Stored<std::uint8_t>;
  explicit ByteString(Storage s) : s_(std::move(s)) {}
  Storage s_;
};

// A text of a stored value (NFC UTF-8 once it has been written or read): a handle, a path
// segment, a label.
class Text {
 public:
  Text() = default;
  Text(const char* text) : Text(std::string_view(text)) {}  // NOLINT: a copy
  Text(const std::string& text) : s_(text.data(), text.size()) {}  // NOLINT: a copy
  explicit Text(std::string_view text) : s_(text.data(), text.size()) {}
  // A view. REQUIRES: as detail::Stored::view.
  static Text view(std::string_view text) { return Text(Storage::view(text.data(), text.size())); }

  const char* data() const { return s_.data(); }
  std::size_t size() const { return s_.size(); }
  bool empty() const { return s_.empty(); }
  bool is_view() const { return s_.is_view(); }
  const char* begin() const { return data(); }
  const char* end() const { return data() + size(); }
  std::string_view view() const { return {data(), size()}; }
  operator std::string_view() const { return view(); }  // NOLINT: a text is a text
  std::string str() const { return std::string(view()); }

  friend bool operator==(const Text& a, const Text& b) { return Storage::compare(a.s_, b.s_) == 0; }
  friend std::strong_ordering operator<=>(const Text& a, const Text& b) { return Storage::compare(a.s_, b.s_) <=> 0; }

 private:
  using Storage = detail::Stored<char>;
  explicit Text(Storage s) : s_(std::move(s)) {}
  Storage s_;
};

}  // namespace ostrel::cord
