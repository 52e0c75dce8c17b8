// Text rules of the encoding: strict UTF-8 and Unicode normalisation form C (ICU 72, Unicode
// 15.0). Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ostrel::cord {

// True when every byte is below 0x80.
bool is_ascii(std::string_view text) noexcept;

// Well-formed UTF-8 only: no overlong forms, no surrogates (U+D800..U+DFFF), nothing above
// U+10FFFF, no truncated sequences.
bool is_valid_utf8(std::string_view text) noexcept;

// True when `text` (valid UTF-8) is in NFC. All-ASCII text is accepted without consulting the
// normaliser.
bool is_nfc(std::string_view text);

// A text brought to NFC: the caller's own bytes when they already are (no copy), else a new
// composed text. REQUIRES: `text` is valid UTF-8 and outlives the result.
class NfcText {
 public:
  std::string_view view() const { return owned_ ? std::string_view(composed_) : borrowed_; }

 private:
  friend NfcText nfc(std::string_view text);

// `text` without the Unicode White_Space characters at either end, trimmed by code point (a
// multi-byte space such as U+3000 goes whole); an ill-formed byte is not white space and stops
// the trim.
std::string_view trim_white_space(std::string_view text);
  std::string_view borrowed_;
  std::string composed_;
  bool owned_ = false;
};

NfcText nfc(std::string_view text);

// Whether text a caller gives must be brought to NFC before it is stored or compared with stored
// text: UTF-8 not yet in NFC. Text that is not UTF-8 is left as it is, for the writer to refuse.
bool caller_text_needs_nfc(std::string_view text);

// `text` without the Unicode White_Space characters at either end, trimmed by code point (a
// multi-byte space such as U+3000 goes whole); an ill-formed byte is not white space and stops
// the trim.
std::string_view trim_white_space(std::string_view text);

}  // namespace ostrel::cord
