// Hexadecimal text: encoding, decoding with its optional prefix, and the failures' reasons.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/hex.h"

namespace ostrel::core {
namespace {

TEST(Hex, EncodeIsLowerCaseHighNibbleFirst) {
  EXPECT_EQ(hex_encode({}), "");
  EXPECT_EQ(hex_encode(std::vector<std::uint8_t>{0x00, 0xff, 0x0a}), "00ff0a");
  EXPECT_EQ(hex_encode(std::vector<std::uint8_t>{0xab, 0xcd, 0x12}), "abcd12");
  EXPECT_EQ(hex_encode(std::vector<std::uint8_t>(32, 0x5c)).size(), 64u);
}

TEST(Hex, Decode) {
  struct Case {
    const char* name;
    std::string text;
    std::optional<std::vector<std::uint8_t>> want;  // none: fails
    const char* reason;
  };
  const Case cases[] = {
      {"empty", "", std::vector<std::uint8_t>{}, nullptr},
      {"prefix alone", "0x", std::vector<std::uint8_t>{}, nullptr},
      {"mixed case after prefix", "0xAbCd", std::vector<std::uint8_t>{0xab, 0xcd}, nullptr},
      {"no prefix", "00ff0A", std::vector<std::uint8_t>{0x00, 0xff, 0x0a}, nullptr},
      {"leading zeros are digits", "0000", std::vector<std::uint8_t>{0, 0}, nullptr},
      {"capital X is no prefix", "0X12", std::nullopt, "non-hex character"},
      {"odd length", "abc", std::nullopt, "odd length"},
      {"odd length with prefix", "0x0", std::nullopt, "odd length"},
      {"odd length wins over bad digits", "zzz", std::nullopt, "odd length"},
      {"bad first pair", "zz00", std::nullopt, "non-hex character"},
      {"bad low nibble in a later pair", "000g", std::nullopt, "non-hex character"},
      {"prefix only once", "0x0x", std::nullopt, "non-hex character"},
      {"blank inside", "00 1", std::nullopt, "non-hex character"},
      {"non-ASCII bytes counted as bytes, even", "\xc3\xa9\xc3\xa9", std::nullopt, "non-hex character"},
      {"non-ASCII bytes counted as bytes, odd", "\xc3\xa9" "0", std::nullopt, "odd length"},
  };
  for (const Case& c : cases) {
    auto got = hex_decode(c.text, "user ID");
    if (c.want) {
      ASSERT_TRUE(got) << c.name << ": " << got.error().message();
      EXPECT_EQ(*got, *c.want) << c.name;
    } else {
      ASSERT_FALSE(got) << c.name;
      EXPECT_EQ(got.error().kind(), FrontendError::InvalidHex) << c.name;
      EXPECT_EQ(got.error().label(), "user ID") << c.name;
      EXPECT_EQ(got.error().reason(), c.reason) << c.name;
      EXPECT_EQ(got.error().message(), std::string("invalid user ID hex: ") + c.reason) << c.name;
    }
  }
}

TEST(Hex, EveryByteRoundTripsInEitherCase) {
  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  const std::string lower = hex_encode(all);
  std::string upper = lower;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  ASSERT_NE(lower, upper);
  for (const std::string& text : {lower, upper, "0x" + lower}) {
    auto back = hex_decode(text, "digest");
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, all);
  }
}

}  // namespace
}  // namespace ostrel::core
