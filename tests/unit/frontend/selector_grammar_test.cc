// The selector text grammar: parsing, the order of its errors, canonical formatting, and the
// round trip from a selector to its text and back.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "frontend/selector/grammar_internal.h"

namespace ostrel::frontend::selector {
namespace {

using core::SecretLabelV1;
using core::SecretSelectorV1;

constexpr const char* kEmpty = "selector must not be empty";
constexpr const char* kEmptySegment = "selector path must not contain empty segments";
constexpr const char* kPairs = "secret labels are @key=value pairs separated by &";
constexpr const char* kEmptyLabel = "label keys and values must not be empty";
constexpr const char* kDuplicate = "a label key may appear only once";
constexpr const char* kDangling = "selector ends with a dangling backslash escape";
constexpr const char* kUnterminated = "selector has an unterminated quote";

struct ParseCase {
  const char* name;
  std::string text;
  SecretSelectorV1 want;
  std::string canonical;
};

TEST(SelectorParse, TextsGiveTheirSelectorAndCanonicalText) {
  const ParseCase cases[] = {
      {"plain path and labels", "a/b@env=prod&team=x", {{"a", "b"}, {{"env", "prod"}, {"team", "x"}}},
       "a/b@env=prod&team=x"},
      {"labels sorted by key", "p@b=2&a=1", {{"p"}, {{"a", "1"}, {"b", "2"}}}, "p@a=1&b=2"},
      {"value keeps later equals signs", "p@k=a=b", {{"p"}, {{"k", "a=b"}}}, "p@k=\"a=b\""},
      {"only the first at sign splits", "p@k=x@y", {{"p"}, {{"k", "x@y"}}}, "p@k=\"x@y\""},
      {"escaped slash is literal", "a\\/b", {{"a/b"}, {}}, "\"a/b\""},
      {"escaped at sign leaves no labels", "a\\@k=v", {{"a@k=v"}, {}}, "\"a@k=v\""},
      {"backslash before ordinary character dropped", "a\\b", {{"ab"}, {}}, "ab"},
      {"escaped backslash kept", "a\\\\b", {{"a\\b"}, {}}, "\"a\\\\b\""},
      {"quotes may open and close inside a segment", "ab\"c/d\"e", {{"abc/de"}, {}}, "\"abc/de\""},
      {"quoted separators in every part", "\"x@y\"/z@\"k&=\"=\"v/&@\"",
       {{"x@y", "z"}, {{"k&=", "v/&@"}}}, "\"x@y\"/z@\"k&=\"=\"v/&@\""},
      {"escaped quote inside quotes", "p@k=\"a\\\"b\"", {{"p"}, {{"k", "a\"b"}}}, "p@k=\"a\\\"b\""},
      {"spaces remain and are not quoted", "a /b", {{"a ", "b"}, {}}, "a /b"},
      {"surrounding spaces are not trimmed", " a@ k = v ", {{" a"}, {{" k ", " v "}}}, " a@ k = v "},
      {"exclamation mark is quoted on output", "a!b", {{"a!b"}, {}}, "\"a!b\""},
      {"non-ASCII unchanged", "caf\u00e9/\u65e5\u672c", {{"caf\u00e9", "\u65e5\u672c"}, {}}, "caf\u00e9/\u65e5\u672c"},
      {"decomposed text brought to NFC", "cafe\u0301@k=e\u0301", {{"caf\u00e9"}, {{"k", "\u00e9"}}},
       "caf\u00e9@k=\u00e9"},
      {"equal keys never meet when values differ in order", "p@b=1&a=2&c=0",
       {{"p"}, {{"a", "2"}, {"b", "1"}, {"c", "0"}}}, "p@a=2&b=1&c=0"},
      {"sorting is by bytes, capitals first", "p@b=1&B=2&\u00e9=3", {{"p"}, {{"B", "2"}, {"b", "1"}, {"\u00e9", "3"}}},
       "p@B=2&b=1&\u00e9=3"},
      {"proper prefix sorts first", "p@ab=1&a=2", {{"p"}, {{"a", "2"}, {"ab", "1"}}}, "p@a=2&ab=1"},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = parse(c.text);
    ASSERT_TRUE(got.has_value()) << got.error().message();
    EXPECT_EQ(got->tuple, c.want.tuple);
    EXPECT_EQ(got->labels, c.want.labels);
    EXPECT_EQ(format(*got), c.canonical);
    auto again = parse(c.canonical);
    ASSERT_TRUE(again.has_value()) << again.error().message();
    EXPECT_EQ(*again, *got);
  }
}

struct ErrorCase {
  const char* name;
  std::string text;
  const char* message;
};

TEST(SelectorParse, FaultsGiveTheirMessageNamingTheWholeText) {
  const ErrorCase cases[] = {
      {"empty text", "", kEmpty},
      {"labels without a path", "@k=v", kEmpty},
      {"empty middle segment", "a//b", kEmptySegment},
      {"empty last segment", "a/", kEmptySegment},
      {"empty first segment", "/a", kEmptySegment},
      {"segment of two quotes", "\"\"", kEmptySegment},
      {"bare trailing at sign", "a@", kPairs},
      {"empty last item", "a@k=v&", kPairs},
      {"empty middle item", "a@k=v&&j=w", kPairs},
      {"item without equals", "a@k", kPairs},
      {"quoted equals is not a separator", "a@\"k=v\"", kPairs},
      {"empty key", "a@=v", kEmptyLabel},
      {"empty value", "a@k=", kEmptyLabel},
      {"quoted empty value", "a@k=\"\"", kEmptyLabel},
      {"same key twice", "p@k=1&k=2", kDuplicate},
      {"same label twice", "p@k=1&k=1", kDuplicate},
      {"duplicate keys apart in the text", "p@k=1&a=2&k=0", kDuplicate},
      {"keys equal once normalised", "p@e\u0301=1&\u00e9=2", kDuplicate},
      {"keys equal once unquoted", "p@k=1&\"k\"=2", kDuplicate},
      {"dangling escape", "a\\", kDangling},
      {"dangling escape in a value", "p@k=v\\", kDangling},
      {"odd quotes", "a\"b", kUnterminated},
      {"quote mode carries across a slash", "a\"b/c", kUnterminated},
      {"quote mode carries across an ampersand", "p@k=\"v&j=w", kUnterminated},
      {"dangling escape reported before open quote", "a\"b\\", kDangling},
      {"path faults before label faults", "a//b@=v", kEmptySegment},
      {"path escape fault before label faults", "a\\\"b\"@k", kUnterminated},
      {"labels in text order: empty key first", "a@=v&k", kEmptyLabel},
      {"labels in text order: missing equals first", "a@k&=v", kPairs},
      {"label fault before a later duplicate", "p@k=1&k=2&j", kPairs},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = parse(c.text);
    ASSERT_FALSE(got.has_value()) << format(*got);
    EXPECT_EQ(got.error().kind(), FrontendError::InvalidSelector);
    EXPECT_EQ(got.error().selector_text(), c.text);
    EXPECT_EQ(got.error().selector_message(), c.message);
  }
}

TEST(SelectorParse, ErrorMessageQuotesTheCallersText) {
  struct Case {
    std::string text;
    std::string want;
  };
  const Case cases[] = {
      {"a\"b", "invalid selector \"a\\\"b\": selector has an unterminated quote"},
      {"", "invalid selector \"\": selector must not be empty"},
      {"a\\", "invalid selector \"a\\\\\": selector ends with a dangling backslash escape"},
      {"p@k=1&k=2", "invalid selector \"p@k=1&k=2\": a label key may appear only once"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse(c.text).error().message(), c.want);
}

TEST(SelectorSplit, SeparatorsCountOnlyOutsideQuotesAndEscapes) {
  using Pieces = std::vector<std::string_view>;
  EXPECT_EQ(split_unquoted("", '/'), Pieces{""});
  EXPECT_EQ(split_unquoted("a/b//c", '/'), (Pieces{"a", "b", "", "c"}));
  EXPECT_EQ(split_unquoted("a\\/b/\"c/d\"/e", '/'), (Pieces{"a\\/b", "\"c/d\"", "e"}));
  EXPECT_EQ(split_unquoted("a\"b/c", '/'), Pieces{"a\"b/c"});
  EXPECT_EQ(split_unquoted("/", '/'), (Pieces{"", ""}));

  EXPECT_FALSE(split_once_unquoted("abc", '@').has_value());
  EXPECT_FALSE(split_once_unquoted("a\\@b\"@\"", '@').has_value());
  const auto split = split_once_unquoted("a@b@c", '@');
  ASSERT_TRUE(split.has_value());
  EXPECT_EQ(split->first, "a");
  EXPECT_EQ(split->second, "b@c");
  const auto at_end = split_once_unquoted("a@", '@');
  ASSERT_TRUE(at_end.has_value());
  EXPECT_EQ(at_end->second, "");
}

TEST(SelectorUnquote, BackslashesAndQuotesGoTheirCharactersStay) {
  EXPECT_EQ(unquote("a\\\"b", "t").value(), "a\"b");
  EXPECT_EQ(unquote("\"a\\\\b\"", "t").value(), "a\\b");
  EXPECT_EQ(unquote("\"\"", "t").value(), "");
  EXPECT_EQ(unquote("\"a\"\"b\"", "t").value(), "ab");
  EXPECT_EQ(unquote("\\", "whole").error().selector_text(), "whole");
}

TEST(SelectorParsePath, SegmentsInTextOrder) {
  EXPECT_EQ(parse_path("t", "b/a/\"c/d\"").value(), (std::vector<std::string>{"b", "a", "c/d"}));
  EXPECT_EQ(parse_path("whole", "").error().message(), "invalid selector \"whole\": selector must not be empty");
}

TEST(SelectorFormat, QuotingRule) {
  struct Case {
    std::string piece;
    std::string want;
  };
  const Case cases[] = {
      {"plain", "plain"},       {"", "\"\""},           {"x/y", "\"x/y\""},       {"a\"b", "\"a\\\"b\""},
      {"a\\b", "\"a\\\\b\""},   {"a!", "\"a!\""},       {"k=v", "\"k=v\""},       {"a&b", "\"a&b\""},
      {"a@b", "\"a@b\""},       {"x y", "x y"},         {"tab\there", "tab\there"}, {"\u00e9t\u00e9", "\u00e9t\u00e9"},
      {"'single'", "'single'"}, {"#$%()*+,-.:;<>?[]^_`{|}~", "#$%()*+,-.:;<>?[]^_`{|}~"},
  };
  for (const Case& c : cases) EXPECT_EQ(quote(c.piece), c.want) << c.piece;
  EXPECT_EQ(quote_all({"a", "b/c", ""}), (std::vector<std::string>{"a", "\"b/c\"", "\"\""}));
}

TEST(SelectorFormat, SelectorsWithoutSegmentsGiveTextsThatDoNotParse) {
  EXPECT_EQ(format(SecretSelectorV1{}), "");
  EXPECT_FALSE(parse(format(SecretSelectorV1{})).has_value());
  const SecretSelectorV1 labels_only{{}, {{"k", "v"}}};
  EXPECT_EQ(format(labels_only), "@k=v");
  EXPECT_EQ(parse(format(labels_only)).error().selector_message(), kEmpty);
  EXPECT_EQ(format(SecretSelectorV1{{"a"}, {{"b", "1"}, {"a", "2"}}}), "a@b=1&a=2");  // order as held
}

// Pieces drawn from an alphabet heavy in the grammar's own characters.
std::string random_piece(std::mt19937& rng) {
  static const std::vector<std::string> kAlphabet = {"a", "b", "/", "@", "&", "=", "\"", "\\", "!", " ", "\u00e9", "\u65e5"};
  std::string out;
  const int n = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < n; ++i) out += kAlphabet[rng() % kAlphabet.size()];
  return out;
}

TEST(SelectorFormat, CanonicalTextParsesBackToTheSelector) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 2000; ++round) {
    SecretSelectorV1 want;
    const int segments = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < segments; ++i) want.tuple.push_back(random_piece(rng));
    const int labels = static_cast<int>(rng() % 4);
    for (int i = 0; i < labels; ++i) want.labels.push_back({random_piece(rng), random_piece(rng)});
    // Sorted, unique keys: the shape of every selector the parser builds.
    auto made = SecretSelectorV1::from_input(want.tuple, want.labels, "");
    if (!made) continue;
    const std::string text = format(*made);
    auto got = parse(text);
    ASSERT_TRUE(got.has_value()) << text << ": " << got.error().message();
    EXPECT_EQ(*got, *made) << text;
  }
}

}  // namespace
}  // namespace ostrel::frontend::selector
