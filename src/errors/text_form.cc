#include "errors/text_form.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace ostrel::errors {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Walks the code points of `bytes`; `on_char(c, encoded)` gets each well-formed one with its own
// bytes, `on_invalid()` each maximal ill-formed subsequence.
template <class OnChar, class OnInvalid>
void for_each_code_point(std::string_view bytes, OnChar&& on_char, OnInvalid&& on_invalid) {
  const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::size_t length = bytes.size();
  std::size_t i = 0;
  while (i < length) {
    const std::size_t start = i;
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) {
      on_invalid();
    } else {
      on_char(c, bytes.substr(start, i - start));
    }
  }
}

// Spaces other than U+0020, separators, controls, format characters, surrogates, private use
// and unassigned code points are what a reader could not see or tell apart.
bool is_printable(UChar32 c) {
  if (c == ' ') return true;
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
    case U_SPACE_SEPARATOR:
      return false;
    default:
      return true;
  }
}

void append_unicode_escape(std::string& out, UChar32 c) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += "\\u{";
  int shift = 20;
  while (shift > 0 && ((c >> shift) & 0xf) == 0) shift -= 4;
  for (; shift >= 0; shift -= 4) out += kDigits[(c >> shift) & 0xf];
  out += '}';
}

}  // namespace

void append_quoted(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  for_each_code_point(
      text,
      [&](UChar32 c, std::string_view encoded) {
        switch (c) {
          case '"': out += "\\\""; return;
          case '\\': out += "\\\\"; return;
          case '\t': out += "\\t"; return;
          case '\r': out += "\\r"; return;
          case '\n': out += "\\n"; return;
          case '\0': out += "\\0"; return;
          default: break;
        }
        // A combining mark standing alone would fuse with the quote or the escape before it.
        if (u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND) || !is_printable(c)) {
          append_unicode_escape(out, c);
        } else {
          out += encoded;
        }
      },
      [&] { out += kReplacement; });
  out += '"';
}

std::string quoted(std::string_view text) {
  std::string out;
  append_quoted(out, text);
  return out;
}

std::string lossy_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for_each_code_point(
      bytes, [&](UChar32, std::string_view encoded) { out += encoded; },
      [&] { out += kReplacement; });
  return out;
}

}  // namespace ostrel::errors
