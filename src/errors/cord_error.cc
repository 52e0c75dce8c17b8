#include "errors/cord_error.h"

#include <string>

namespace ostrel::cord {

Error Error::length_limit_exceeded(std::uint64_t len, std::uint64_t max) {
  Error e(LengthLimitExceeded);
  e.len_ = len;
  e.max_ = max;
  return e;
}

Error Error::unknown_variant(std::uint32_t index) {
  Error e(UnknownVariant);
  e.len_ = index;
  return e;
}

Error Error::invalid_type(std::string_view found, std::string_view wanted) {
  std::string t = "invalid type: ";
  t.append(found).append(", expected ").append(wanted);
  return Error(Deserialization, std::move(t));
}

Error Error::invalid_value(std::string_view found, std::string_view wanted) {
  std::string t = "invalid value: ";
  t.append(found).append(", expected ").append(wanted);
  return Error(Deserialization, std::move(t));
}

Error Error::invalid_length(std::uint64_t count, std::string_view wanted) {
  std::string t = "invalid length ";
  t.append(std::to_string(count)).append(", expected ").append(wanted);
  return Error(Deserialization, std::move(t));
}

std::string Error::message() const {
  switch (kind_) {
    case Io: return "Cord encountered I/O error: " + text_;
    case Unsupported: return "Cord does not support: " + text_;
    case Validation: return "Cord could not validate: " + text_;
    case Serialization: return "Cord serialization error: " + text_;
    case Deserialization: return "Cord deserialization error: " + text_;
    case Schema: return "Cord schema error: " + text_;
    case DepthLimitExceeded: return "Cord depth limit exceeded";
    case LengthLimitExceeded:
      return "Cord length limit exceeded: " + std::to_string(len_) + " exceeds maximum of " +
             std::to_string(max_);
    case UnknownVariant: return "Cord encountered unknown enum variant index " + std::to_string(len_);
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

}  // namespace ostrel::cord
