// Every kind's message, and how wrapping nests messages.
#include <gtest/gtest.h>

#include "errors/cord_error.h"

namespace ostrel::cord {
namespace {

TEST(CordErrors, EveryKindHasItsMessage) {
  struct Case {
    Error error;
    const char* want;
  };
  const Case cases[] = {
      {Error::io("disk"), "Cord encountered I/O error: disk"},
      {Error::unsupported("floats"), "Cord does not support: floats"},
      {Error::validation("Invalid option variant"), "Cord could not validate: Invalid option variant"},
      {Error::wrap_ser(Error::DuplicateElement), "Cord serialization error: Duplicate element in set"},
      {Error::custom("trailing bytes in evolving payload"),
       "Cord deserialization error: trailing bytes in evolving payload"},
      {Error::schema("s"), "Cord schema error: s"},
      {Error::DepthLimitExceeded, "Cord depth limit exceeded"},
      {Error::length_limit_exceeded(16777217, 16777216),
       "Cord length limit exceeded: 16777217 exceeds maximum of 16777216"},
      {Error::unknown_variant(14), "Cord encountered unknown enum variant index 14"},
      {Error::DuplicateKey, "Duplicate key in map"},
      {Error::DuplicateElement, "Duplicate element in set"},
      {Error::TrailingBytes, "Trailing bytes after deserialization"},
      {Error::UnexpectedEnd, "Unexpected end of input"},
      {Error::InvalidBool, "Invalid boolean value"},
      {Error::InvalidVarint, "Invalid varint encoding"},
      {Error::InvalidUtf8, "Invalid UTF-8"},
      {Error::NotNfc, "String is not NFC normalized"},
      {Error::NanNotAllowed, "NaN is not allowed in canonical encoding"},
      {Error::NegativeZero, "Negative zero is not allowed in canonical encoding"},
      {Error::ConflictingHints, "Conflicting encoding hints"},
      {Error::Overflow, "Value overflow for encoding width"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.error.message(), c.want);
}

TEST(CordErrors, GenericDescriptions) {
  EXPECT_EQ(Error::invalid_length(0, "tuple struct HashValue").message(),
            "Cord deserialization error: invalid length 0, expected tuple struct HashValue");
  EXPECT_EQ(Error::invalid_type("byte array", "set").message(),
            "Cord deserialization error: invalid type: byte array, expected set");
  EXPECT_EQ(Error::invalid_value("integer `14`", "enum RecordBodyV1").message(),
            "Cord deserialization error: invalid value: integer `14`, expected enum RecordBodyV1");
}

TEST(CordErrors, WrappingNestsWholeMessages) {
  const Error ser = Error::wrap_ser(Error::Overflow);
  EXPECT_EQ(ser.message(), "Cord serialization error: Value overflow for encoding width");
  EXPECT_EQ(Error::wrap_de(ser).message(),
            "Cord deserialization error: Cord serialization error: Value overflow for encoding width");
  EXPECT_EQ(Error::wrap_de(Error::wrap_de(Error::UnexpectedEnd)).message(),
            "Cord deserialization error: Cord deserialization error: Unexpected end of input");
  EXPECT_EQ(Error::wrap_de(ser).kind(), Error::Deserialization);
}

}  // namespace
}  // namespace ostrel::cord
