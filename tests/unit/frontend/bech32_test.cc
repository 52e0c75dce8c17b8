// Bech32 and Bech32m against the BIP 173 and BIP 350 test vectors, with the length limit left to
// the caller and the bit regrouping of both directions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/invite/bech32.h"

namespace ostrel::frontend::invite {
namespace {

constexpr std::size_t kBipMaxLength = 90;

std::string lower_case(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// BIP 173's and BIP 350's valid strings: each decodes under its own checksum and encodes back to
// its lower-case form.
TEST(Bech32, ValidVectorsDecodeAndEncodeBack) {
  struct Case {
    const char* text;
    Bech32Encoding encoding;
  };
  const Case cases[] = {
      {"A12UEL5L", Bech32Encoding::Bech32},
      {"a12uel5l", Bech32Encoding::Bech32},
      {"an83characterlonghumanreadablepartthatcontainsthenumber1andtheexcludedcharactersbio1tt5tgs",
       Bech32Encoding::Bech32},
      {"abcdef1qpzry9x8gf2tvdw0s3jn54khce6mua7lmqqqxw", Bech32Encoding::Bech32},
      {"11qqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqc8247j",
       Bech32Encoding::Bech32},
      {"split1checkupstagehandshakeupstreamerranterredcaperred2y9e3w", Bech32Encoding::Bech32},
      {"?1ezyfcl", Bech32Encoding::Bech32},
      {"A1LQFN3A", Bech32Encoding::Bech32m},
      {"a1lqfn3a", Bech32Encoding::Bech32m},
      {"an83characterlonghumanreadablepartthatcontainsthetheexcludedcharactersbioandnumber11sg7hg6",
       Bech32Encoding::Bech32m},
      {"abcdef1l7aum6echk45nj3s0wdvt2fg8x9yrzpqzd3ryx", Bech32Encoding::Bech32m},
      {"11llllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllludsr8",
       Bech32Encoding::Bech32m},
      {"split1checkupstagehandshakeupstreamerranterredcaperredlc445v", Bech32Encoding::Bech32m},
      {"?1v759aa", Bech32Encoding::Bech32m},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string text = c.text;
    auto got = bech32_decode(text, kBipMaxLength);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->encoding, c.encoding);
    EXPECT_EQ(got->prefix, text.substr(0, text.rfind('1')));  // case kept
    EXPECT_EQ(bech32_encode(lower_case(got->prefix), got->data, got->encoding), lower_case(text));
  }
}

TEST(Bech32, DataPartOfTheBip350ExampleIsEveryGroupDescending) {
  auto got = bech32_decode("abcdef1l7aum6echk45nj3s0wdvt2fg8x9yrzpqzd3ryx", kBipMaxLength);
  ASSERT_TRUE(got.has_value());
  Groups want;
  for (int v = 31; v >= 0; --v) want.push_back(static_cast<std::uint8_t>(v));
  EXPECT_EQ(got->data, want);
  EXPECT_EQ(got->prefix, "abcdef");
}

TEST(Bech32, InvalidVectorsAreRefusedUnderEitherChecksum) {
  const std::string cases[] = {
      std::string("\x20" "1xj0phk"),  // prefix character out of range
      std::string("\x7f" "1g6xzxy"),  // prefix character out of range
      "qyrz8wqd2c9m",                 // no separator
      "1qyrz8wqd2c9m",                // empty prefix
      "y1b0jsk6g",                    // data character outside the alphabet
      "lt1igcx5c0",                   // data character outside the alphabet
      "in1muywd",                     // checksum too short
      "mm1crxm3i",                    // checksum character outside the alphabet
      "au1s5cgom",                    // checksum character outside the alphabet
      "M1VUXWEZ",                     // checksum made over the upper-case prefix
      "16plkw9",                      // empty prefix
      "1p2gdwpf",                     // empty prefix
  };
  for (const std::string& text : cases) EXPECT_FALSE(bech32_decode(text, kBipMaxLength).has_value()) << text;
}

TEST(Bech32, OwnRulesOnCaseLengthAndPrefix) {
  const std::string valid = "abcdef1l7aum6echk45nj3s0wdvt2fg8x9yrzpqzd3ryx";
  ASSERT_TRUE(bech32_decode(valid, valid.size()).has_value());
  EXPECT_FALSE(bech32_decode(valid, valid.size() - 1).has_value()) << "length limit is the caller's";

  std::string mixed = valid;
  mixed[0] = 'A';  // upper case only in the prefix
  EXPECT_FALSE(bech32_decode(mixed, kBipMaxLength).has_value());
  mixed = valid;
  mixed.back() = 'X';
  EXPECT_FALSE(bech32_decode(mixed, kBipMaxLength).has_value());

  std::string flipped = valid;
  flipped[10] = flipped[10] == 'q' ? 'p' : 'q';
  EXPECT_FALSE(bech32_decode(flipped, kBipMaxLength).has_value()) << "bad checksum";

  // An 84-character prefix is refused even under a generous limit; 83 is the most.
  const std::string prefix84(84, 'a');
  const std::string long_prefix = bech32_encode(prefix84, Groups{}, Bech32Encoding::Bech32m);
  EXPECT_FALSE(bech32_decode(long_prefix, 1023).has_value());
  const std::string prefix83(83, 'a');
  EXPECT_TRUE(bech32_decode(bech32_encode(prefix83, Groups{}, Bech32Encoding::Bech32m), 1023).has_value());

  // Non-ASCII anywhere is refused.
  EXPECT_FALSE(bech32_decode("\xc3\xa9" "1lqfn3a", kBipMaxLength).has_value());
  EXPECT_FALSE(bech32_decode("a1lqfn3a\xc3\xa9", kBipMaxLength).has_value());
}

TEST(Bech32, BytesRegroupMostSignificantBitFirst) {
  const std::vector<std::uint8_t> bytes = {0xff, 0x00, 0xa5};
  const Groups groups = bytes_to_groups(bytes);
  // 11111 11100 00000 01010 0101(0): 24 bits padded to 25.
  EXPECT_EQ(groups, (Groups{31, 28, 0, 10, 10}));
  EXPECT_EQ(groups_to_bytes(groups), (Groups{0xff, 0x00, 0xa5}));

  // Leftover bits are dropped unchecked, whatever they hold.
  EXPECT_EQ(groups_to_bytes(Groups{31, 28, 0, 10, 11}), (Groups{0xff, 0x00, 0xa5}));
  EXPECT_EQ(groups_to_bytes(Groups{31}), Groups{});
  EXPECT_EQ(groups_to_bytes(Groups{}), Groups{});

  for (std::size_t n = 0; n < 40; ++n) {
    std::vector<std::uint8_t> in(n);
    for (std::size_t i = 0; i < n; ++i) in[i] = static_cast<std::uint8_t>(i * 37 + 11);
    const Groups g = bytes_to_groups(in);
    EXPECT_EQ(g.size(), (n * 8 + 4) / 5);
    const Groups back = groups_to_bytes(g);
    EXPECT_EQ(std::vector<std::uint8_t>(back.begin(), back.end()), in);
  }
}

}  // namespace
}  // namespace ostrel::frontend::invite
