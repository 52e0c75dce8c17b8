// cord::Error: the one error type of the canonical encoding. Plain data with a fixed message per
// kind; higher layers show the message unchanged behind their own prefixes.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace ostrel::cord {

class Error {
 public:
  // The 21 kinds in their fixed order.
  enum Kind : std::uint8_t {
    Io = 0,
    Unsupported = 1,
    Validation = 2,
    Serialization = 3,
    Deserialization = 4,
    Schema = 5,
    DepthLimitExceeded = 6,
    LengthLimitExceeded = 7,
    UnknownVariant = 8,
    DuplicateKey = 9,
    DuplicateElement = 10,
    TrailingBytes = 11,
    UnexpectedEnd = 12,
    InvalidBool = 13,
    InvalidVarint = 14,
    InvalidUtf8 = 15,
    NotNfc = 16,
    NanNotAllowed = 17,
    NegativeZero = 18,
    ConflictingHints = 19,
    Overflow = 20,
  };

  // A kind that carries no data.
  Error(Kind kind) : kind_(kind) {}  // NOLINT: implicit on purpose, `return Error::Overflow;`

  static Error io(std::string text) { return Error(Io, std::move(text)); }
  static Error unsupported(std::string_view text) { return Error(Unsupported, std::string(text)); }
  static Error validation(std::string_view text) { return Error(Validation, std::string(text)); }
  static Error schema(std::string text) { return Error(Schema, std::move(text)); }
  static Error length_limit_exceeded(std::uint64_t len, std::uint64_t max);
  static Error unknown_variant(std::uint32_t index);

  // A Deserialization error owning a copy of `text`.
  static Error custom(std::string_view text) { return Error(Deserialization, std::string(text)); }
  // Deserialization / Serialization errors whose text is the full message of `inner`.
  static Error wrap_de(const Error& inner) { return Error(Deserialization, inner.message()); }
  static Error wrap_ser(const Error& inner) { return Error(Serialization, inner.message()); }
  static Error invalid_type(std::string_view found, std::string_view wanted);
  static Error invalid_value(std::string_view found, std::string_view wanted);
  static Error invalid_length(std::uint64_t count, std::string_view wanted);

  Kind kind() const { return kind_; }
  // The text of Io, Unsupported, Validation, Serialization, Deserialization and Schema.
  const std::string& text() const { return text_; }
  std::uint64_t length() const { return len_; }
  std::uint64_t maximum() const { return max_; }
  std::uint32_t variant_index() const { return static_cast<std::uint32_t>(len_); }

  // The display text of the kind, with its data.
  std::string message() const;

  friend bool operator==(const Error&, const Error&) = default;

 private:
  Error(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

  Kind kind_;
  std::string text_;
  std::uint64_t len_ = 0;  // LengthLimitExceeded: the length read; UnknownVariant: the index
  std::uint64_t max_ = 0;  // LengthLimitExceeded: the bound
};

template <class T>
using Result = std::expected<T, Error>;
using Status = std::expected<void, Error>;

}  // namespace ostrel::cord
