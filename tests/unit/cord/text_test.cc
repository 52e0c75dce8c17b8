// Strict UTF-8 and normalisation form C.
#include <gtest/gtest.h>

#include "cord/text.h"

namespace ostrel::cord {
namespace {

TEST(Utf8, StrictValidation) {
  struct Case {
    const char* name;
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {"ascii", "plain text", true},
      {"two_byte", "\xc3\xa9", true},
      {"three_byte", "\xe2\x82\xac", true},
      {"four_byte_max", "\xf4\x8f\xbf\xbf", true},           // U+10FFFF
      {"last_before_surrogates", "\xed\x9f\xbf", true},      // U+D7FF
      {"first_after_surrogates", "\xee\x80\x80", true},      // U+E000
      {"overlong_two", "\xc0\xaf", false},
      {"overlong_c1", "\xc1\xbf", false},
      {"overlong_three", "\xe0\x80\xaf", false},
      {"overlong_four", "\xf0\x80\x80\xaf", false},
      {"surrogate_low", "\xed\xa0\x80", false},              // U+D800
      {"surrogate_high", "\xed\xbf\xbf", false},             // U+DFFF
      {"above_max", "\xf4\x90\x80\x80", false},              // U+110000
      {"f5_lead", "\xf5\x80\x80\x80", false},
      {"ff_byte", "a\xff", false},
      {"lone_continuation", "\x80", false},
      {"truncated_two", "\xc3", false},
      {"truncated_four", "\xf0\x9f\x98", false},
      {"bad_continuation", "\xe2\x28\xa1", false},
      {"nul_is_valid", std::string("a\0b", 3), true},
  };
  for (const Case& c : cases) EXPECT_EQ(is_valid_utf8(c.text), c.valid) << c.name;
}

TEST(Nfc, QuickCheckAndComposition) {
  EXPECT_TRUE(is_nfc("ascii only"));
  EXPECT_TRUE(is_nfc("caf\xc3\xa9"));
  EXPECT_FALSE(is_nfc("cafe\xcc\x81"));
  // Hangul syllable from conjoining jamo, and a singleton decomposition (ohm sign → omega).
  EXPECT_FALSE(is_nfc("\xe1\x84\x80\xe1\x85\xa1"));
  EXPECT_FALSE(is_nfc("\xe2\x84\xa6"));
  EXPECT_EQ(nfc("cafe\xcc\x81").view(), "caf\xc3\xa9");
  EXPECT_EQ(nfc("\xe1\x84\x80\xe1\x85\xa1").view(), "\xea\xb0\x80");
  EXPECT_EQ(nfc("\xe2\x84\xa6").view(), "\xce\xa9");
  // Text already in NFC comes back as the caller's own bytes.
  const std::string s = "caf\xc3\xa9";
  EXPECT_EQ(nfc(s).view().data(), s.data());
}

}  // namespace
}  // namespace ostrel::cord

namespace ostrel::cord {
namespace {

TEST(WhiteSpace, TrimmedByCodePointAtBothEnds) {
  struct Case {
    const char* name;
    std::string in;
    std::string want;
  };
  const Case cases[] = {
      {"ascii spaces, tabs and line breaks", " \t\r\na b\n\t ", "a b"},
      {"ideographic space, no-break space", "\xe3\x80\x80x\xc2\xa0", "x"},
      {"NEL, line and paragraph separators", "\xc2\x85\xe2\x80\xa8Z\xe2\x80\xa9", "Z"},
      {"zero-width space is not White_Space", "\xe2\x80\x8b" "a\xe2\x80\x8b", "\xe2\x80\x8b" "a\xe2\x80\x8b"},
      {"only white space", " \xe3\x80\x80 ", ""},
      {"empty", "", ""},
      {"a lone continuation byte stops the trim", "a\x80 ", "a\x80"},
      {"a truncated space stops the trim", " \xe3\x80", "\xe3\x80"},
      {"an ill-formed lead stops the trim", "\xff a", "\xff a"},
      {"continuation bytes before a space are kept", "\xc3\xa9\xe3\x80\x80", "\xc3\xa9"},
  };
  for (const Case& c : cases) EXPECT_EQ(trim_white_space(c.in), c.want) << c.name;
}

}  // namespace
}  // namespace ostrel::cord
