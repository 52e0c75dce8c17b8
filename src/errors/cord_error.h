// cord::Error: the one error type of the canonical encoding, a kind with its text or numbers.
// Higher layers show the message unchanged behind their own prefixes. Plain data; safe to copy
// and to pass between threads.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "platform/result.h"
#include "errors/error_value.h"

namespace ostrel::cord {

class [[nodiscard]] Error : public errors::ErrorValue<Error> {
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
  // NOLINTNEXTLINE: implicit on purpose, `return Error::Overflow;`
  Error(Kind kind) : ErrorValue(Raw{kind, nullptr}) {}

  static Error io(std::string text) { return make(Io, std::move(text)); }
  static Error unsupported(std::string_view text) { return make(Unsupported, std::string(text)); }
  static Error validation(std::string_view text) { return make(Validation, std::string(text)); }
  static Error schema(std::string text) { return make(Schema, std::move(text)); }
  static Error length_limit_exceeded(std::uint64_t len, std::uint64_t max) {
    return make(LengthLimitExceeded, len, max);
  }
  static Error unknown_variant(std::uint32_t index) { return make(UnknownVariant, index); }

  // A Deserialization error owning a copy of `text`.
  static Error custom(std::string_view text) { return make(Deserialization, std::string(text)); }
  // Deserialization / Serialization errors whose text is the full message of `inner`.
  static Error wrap_de(const Error& inner) { return make(Deserialization, inner.message()); }
  static Error wrap_ser(const Error& inner) { return make(Serialization, inner.message()); }
  static Error invalid_type(std::string_view found, std::string_view wanted);
  static Error invalid_value(std::string_view found, std::string_view wanted);
  static Error invalid_length(std::uint64_t count, std::string_view wanted);

  // REQUIRES: the kind is Io, Unsupported, Validation, Serialization, Deserialization or Schema.
  const std::string& text() const { return field<std::string>(0); }
  // REQUIRES: kind() == LengthLimitExceeded. The length read and the bound.
  std::uint64_t length() const { return field<std::uint64_t>(0); }
  std::uint64_t maximum() const { return field<std::uint64_t>(1); }
  // REQUIRES: kind() == UnknownVariant.
  std::uint32_t variant_index() const { return field<std::uint32_t>(0); }

  static constexpr std::string_view form(Kind kind) {
    switch (kind) {
      case Io: return "Cord encountered I/O error: {}";
      case Unsupported: return "Cord does not support: {}";
      case Validation: return "Cord could not validate: {}";
      case Serialization: return "Cord serialization error: {}";
      case Deserialization: return "Cord deserialization error: {}";
      case Schema: return "Cord schema error: {}";
      case DepthLimitExceeded: return "Cord depth limit exceeded";
      case LengthLimitExceeded: return "Cord length limit exceeded: {} exceeds maximum of {}";
      case UnknownVariant: return "Cord encountered unknown enum variant index {}";
      case DuplicateKey: return "Duplicate key in map";
      case DuplicateElement: return "Duplicate element in set";
      case TrailingBytes: return "Trailing bytes after deserialization";
      case UnexpectedEnd: return "Unexpected end of input";
      case InvalidBool: return "Invalid boolean value";
      case InvalidVarint: return "Invalid varint encoding";
      case InvalidUtf8: return "Invalid UTF-8";
      case NotNfc: return "String is not NFC normalized";
      case NanNotAllowed: return "NaN is not allowed in canonical encoding";
      case NegativeZero: return "Negative zero is not allowed in canonical encoding";
      case ConflictingHints: return "Conflicting encoding hints";
      case Overflow: return "Value overflow for encoding width";
    }
    return "Cord error";
  }

 private:
  using ErrorValue::ErrorValue;
};

template <class T>
using Result = platform::Result<T, Error>;
using Status = platform::Result<void, Error>;

}  // namespace ostrel::cord
