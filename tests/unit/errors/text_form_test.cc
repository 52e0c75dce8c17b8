// The quoted form of texts and the list, map and byte forms built on it.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "errors/text_form.h"
#include "ids/identifiers.h"

namespace ostrel::errors {
namespace {

struct QuoteCase {
  const char* name;
  std::string in;
  std::string want;
};

void expect_quotes(const std::vector<QuoteCase>& cases) {
  for (const QuoteCase& c : cases) EXPECT_EQ(errors::quoted(c.in), c.want) << c.name;
}

TEST(Quoted, AsciiEscapes) {
  using namespace std::string_literals;
  expect_quotes({
      {"empty", "", R"("")"},
      {"plain words", "invalid grant", R"("invalid grant")"},
      {"inner double quote", "a\"b", R"("a\"b")"},
      {"backslash doubled", "a\\b", R"("a\\b")"},
      {"escape sequence left literal", "\\n", R"("\\n")"},
      {"single quote as is", "it's", R"("it's")"},
      {"tab cr lf", "a\tb\rc\nd", R"("a\tb\rc\nd")"},
      {"nul", "a\0b"s, R"("a\0b")"},
      {"nul before digit stays unambiguous in length", "\0"s "1", R"("\01")"},
      {"other C0 controls", "\x01\x1b\x1f", R"("\u{1}\u{1b}\u{1f}")"},
      {"vertical tab and form feed", "\v\f", R"("\u{b}\u{c}")"},
      {"delete", "\x7f", R"("\u{7f}")"},
      {"space and printable punctuation", " ~!{}", R"(" ~!{}")"},
  });
}

TEST(Quoted, NonAsciiPrintableKeptControlsAndInvisiblesEscaped) {
  expect_quotes({
      {"precomposed letters", "\xc3\xa9t\xc3\xa9 \xc3\x84", "\"\xc3\xa9t\xc3\xa9 \xc3\x84\""},
      {"CJK", "\xe6\x97\xa5\xe6\x9c\xac", "\"\xe6\x97\xa5\xe6\x9c\xac\""},
      {"emoji outside the BMP", "\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
      {"ellipsis and em dash", "\xe2\x80\xa6\xe2\x80\x94", "\"\xe2\x80\xa6\xe2\x80\x94\""},
      {"replacement character itself", "\xef\xbf\xbd", "\"\xef\xbf\xbd\""},
      {"C1 control (NEL)", "\xc2\x85", R"("\u{85}")"},
      {"no-break space (Zs)", "a\xc2\xa0" "b", R"("a\u{a0}b")"},
      {"ideographic space (Zs)", "\xe3\x80\x80", R"("\u{3000}")"},
      {"line and paragraph separators", "\xe2\x80\xa8\xe2\x80\xa9", R"("\u{2028}\u{2029}")"},
      {"soft hyphen (Cf)", "\xc2\xad", R"("\u{ad}")"},
      {"zero-width joiner (Cf)", "\xe2\x80\x8d", R"("\u{200d}")"},
      {"byte order mark (Cf)", "\xef\xbb\xbf", R"("\u{feff}")"},
      {"private use", "\xee\x80\x80", R"("\u{e000}")"},
      {"unassigned", "\xcd\xb8", R"("\u{378}")"},
      {"last code point, six digits", "\xf4\x8f\xbf\xbf", R"("\u{10ffff}")"},
  });
}

TEST(Quoted, GraphemeExtendersEscaped) {
  expect_quotes({
      {"combining acute after a letter", "e\xcc\x81", R"("e\u{301}")"},
      {"combining mark first", "\xcc\x81" "a", R"("\u{301}a")"},
      {"enclosing mark (Me)", "1\xe2\x83\x9d", R"("1\u{20dd}")"},
      {"variation selector", "\xe2\x9d\xa4\xef\xb8\x8f", "\"\xe2\x9d\xa4\\u{fe0f}\""},
      {"spacing mark that extends (Bengali AA)", "\xe0\xa6\x95\xe0\xa6\xbe",
       "\"\xe0\xa6\x95\\u{9be}\""},
      {"spacing mark that does not extend (Devanagari visarga)", "\xe0\xa4\x95\xe0\xa4\x83",
       "\"\xe0\xa4\x95\xe0\xa4\x83\""},
  });
}

TEST(Quoted, IllFormedUtf8ShowsReplacementPerMaximalSubpart) {
  expect_quotes({
      {"stray byte", "a\xff" "b", "\"a\xef\xbf\xbd" "b\""},
      {"truncated three-byte sequence", "\xe2\x82", "\"\xef\xbf\xbd\""},
      {"truncated sequence before ASCII", "\xe2\x82" "a", "\"\xef\xbf\xbd" "a\""},
      {"overlong lead then trail", "\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},
      {"encoded surrogate", "\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
  });
}

TEST(Quoted, AppendsToExistingText) {
  std::string out = "invalid selector ";
  append_quoted(out, "a\"b");
  EXPECT_EQ(out, R"(invalid selector "a\"b")");
}

TEST(LossyUtf8, ValidKeptIllFormedReplaced) {
  EXPECT_EQ(lossy_utf8("C:\\vault \xc3\xa9\n"), "C:\\vault \xc3\xa9\n");
  EXPECT_EQ(lossy_utf8("a\xff\xfe" "b"), "a\xef\xbf\xbd\xef\xbf\xbd" "b");
  EXPECT_EQ(lossy_utf8("\xf0\x9f\x98"), "\xef\xbf\xbd");
  EXPECT_EQ(lossy_utf8(""), "");
}

TEST(ListForms, BracketsBracesAndSeparators) {
  const std::vector<std::string> path = {"app", "d\"b"};
  EXPECT_EQ(quoted_list(path), R"(["app", "d\"b"])");
  EXPECT_EQ(quoted_list(std::vector<std::string>{}), "[]");

  const std::map<std::string, std::string> labels = {{"b", "2"}, {"a", "x\ty"}};
  EXPECT_EQ(quoted_map(labels), R"({"a": "x\ty", "b": "2"})");
  EXPECT_EQ(quoted_map(std::map<std::string, std::string>{}), "{}");

  const std::vector<HashValue> hashes = {HashValue(std::vector<std::uint8_t>{0, 17, 255}),
                                         HashValue()};
  EXPECT_EQ(debug_list(hashes), "[HashValue([0, 17, 255]), HashValue([])]");
  EXPECT_EQ(debug_list(std::vector<HashValue>{}), "[]");

  const std::vector<std::string> names = {"A", "B"};
  EXPECT_EQ(joined(names, [](const std::string& s) { return s; }), "A, B");
  EXPECT_EQ(joined(names, [](const std::string& s) { return s; }, "/"), "A/B");
  EXPECT_EQ(decimal_bytes(std::vector<std::uint8_t>{0, 128, 255}), "[0, 128, 255]");
}

}  // namespace
}  // namespace ostrel::errors
