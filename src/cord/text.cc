#include "cord/text.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdlib>
#include <cstring>

namespace ostrel::cord {
namespace {

const icu::Normalizer2& nfc_normalizer() {
  // ICU builds its singleton once, thread-safely; the data is compiled into libicudata, so the
  // lookup cannot fail on a sound installation.
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status) || n == nullptr) std::abort();
  return *n;
}

}  // namespace

bool is_ascii(std::string_view text) noexcept {
  const char* p = text.data();
  std::size_t n = text.size();
  // Eight bytes at a time: any set high bit means non-ASCII.
  while (n >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    if (w & 0x8080808080808080ULL) return false;
    p += 8;
    n -= 8;
  }
  while (n > 0) {
    if (static_cast<unsigned char>(*p) >= 0x80) return false;
    ++p;
    --n;
  }
  return true;
}

bool is_valid_utf8(std::string_view text) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    // The permitted ranges of the second byte narrow for E0, ED, F0 and F4, which is where
    // overlong forms, surrogates and code points above U+10FFFF would otherwise slip through.
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xbf;
    if (c >= 0xc2 && c <= 0xdf) {
      len = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
      len = 3;
      if (c == 0xe0) lo = 0xa0;
      if (c == 0xed) hi = 0x9f;
    } else if (c >= 0xf0 && c <= 0xf4) {
      len = 4;
      if (c == 0xf0) lo = 0x90;
      if (c == 0xf4) hi = 0x8f;
    } else {
      return false;
    }
    if (n - i < len) return false;
    if (s[i + 1] < lo || s[i + 1] > hi) return false;
    for (std::size_t k = 2; k < len; ++k) {
      if ((s[i + k] & 0xc0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

bool is_nfc(std::string_view text) {
  if (is_ascii(text)) return true;
  UErrorCode status = U_ZERO_ERROR;
  // For the composing normaliser this is the quick check, settled by composition where the
  // quick check alone cannot decide.
  const bool yes = nfc_normalizer().isNormalizedUTF8(
      icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())), status);
  return U_SUCCESS(status) && yes;
}

NfcText nfc(std::string_view text) {
  NfcText out;
  if (is_nfc(text)) {
    out.borrowed_ = text;
    return out;
  }
  UErrorCode status = U_ZERO_ERROR;
  icu::StringByteSink<std::string> sink(&out.composed_, static_cast<std::int32_t>(text.size()));
  nfc_normalizer().normalizeUTF8(
      0, icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())), sink, nullptr,
      status);
  if (U_FAILURE(status)) std::abort();  // only allocation failure reaches here
  out.owned_ = true;
  return out;
}

std::string_view trim_white_space(std::string_view text) {
  const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
  auto is_space = [](UChar32 c) { return c >= 0 && u_hasBinaryProperty(c, UCHAR_WHITE_SPACE); };
  // Offsets stay std::size_t throughout: U8_NEXT is inline and takes any index type, where
  // U8_PREV would narrow them to 32 bits.
  std::size_t begin = 0;
  const std::size_t n = text.size();
  while (begin < n) {
    std::size_t next = begin;
    UChar32 c;
    U8_NEXT(s, next, n, c);
    if (!is_space(c)) break;
    begin = next;
  }
  std::size_t end = n;
  while (end > begin) {
    // The last character starts at most three continuation bytes back; it counts only when it
    // is well formed and ends exactly at `end`.
    std::size_t start = end - 1;
    while (start > begin && end - start < 4 && (s[start] & 0xc0) == 0x80) --start;
    std::size_t after = start;
    UChar32 c;
    U8_NEXT(s, after, end, c);
    if (after != end || !is_space(c)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

bool caller_text_needs_nfc(std::string_view text) { return is_valid_utf8(text) && !is_nfc(text); }

}  // namespace ostrel::cord
