// The system's text forms, shared by every message that prints a value: the quoted form of a
// text, Debug forms of byte strings, bracketed lists and braced maps. Pure functions; safe from
// any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "ids/id_bytes.h"

namespace ostrel::errors {

// Items joined by `separator`, each shown by `show`: "a, b".
template <class Range, class Fn>
std::string joined(const Range& items, Fn&& show, std::string_view separator = ", ") {
  std::string out;
  bool first = true;
  for (const auto& item : items) {
    if (!first) out += separator;
    first = false;
    out += show(item);
  }
  return out;
}

// Items joined by ", " inside square brackets: "[a, b]".
template <class Range, class Fn>
std::string bracketed(const Range& items, Fn&& show) {
  return "[" + joined(items, show) + "]";
}

// Values that have a Debug form (`debug()`), bracketed: "[HashValue([1]), HashValue([2])]".
template <class Range>
std::string debug_list(const Range& items) {
  return bracketed(items, [](const auto& item) { return item.debug(); });
}

// Bytes as a list of decimal numbers, [0, 17, 255]: the ids' Debug form (ids/id_bytes.h).
using ostrel::decimal_bytes;

// The quoted form of a text: between double quotes; `"` and `\` behind a backslash; tab, CR,
// LF and NUL as \t, \r, \n, \0; every other control character, character that is not printable
// (general categories Cc, Cf, Cs, Co, Cn, Zl, Zp, and Zs but the ASCII space) and grapheme
// extender as \u{hex}, lower case without leading zeros; everything else, non-ASCII letters and
// the single quote included, as it is. A byte sequence that is not valid UTF-8 shows as U+FFFD.
std::string quoted(std::string_view text);
void append_quoted(std::string& out, std::string_view text);

// Texts in quoted form, bracketed: ["app", "db"].
template <class Range>
std::string quoted_list(const Range& texts) {
  return bracketed(texts, [](std::string_view t) { return errors::quoted(t); });
}

// Key/value pairs of texts, both in quoted form, inside braces: {"a": "1", "b": "2"}. The pairs
// are shown in the order the range yields them.
template <class Range>
std::string quoted_map(const Range& pairs) {
  return "{" +
         joined(pairs,
                [](const auto& kv) {
                  std::string out = errors::quoted(std::string_view(kv.first));
                  out += ": ";
                  errors::append_quoted(out, std::string_view(kv.second));
                  return out;
                }) +
         "}";
}

// A byte string shown as text: valid UTF-8 unchanged, each maximal ill-formed subsequence
// replaced by one U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// A path as text: its bytes as UTF-8, each ill-formed sequence replaced by U+FFFD.
inline std::string path_text(const std::filesystem::path& path) { return lossy_utf8(path.native()); }

}  // namespace ostrel::errors
