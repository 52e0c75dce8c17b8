#include "frontend/selector/grammar.h"

#include "errors/text_form.h"
#include "errors/try.h"
#include "frontend/selector/grammar_internal.h"

namespace ostrel::frontend::selector {
namespace {

// Separators and quoting characters are ASCII and no byte of a multi-byte UTF-8 character equals
// one of them, so walking bytes walks the characters that matter.
class QuoteState {
 public:
  // Feeds one byte; true when it is an active (unescaped, unquoted) occurrence of `separator`.
  bool active(char c, char separator) {
    if (escaped_) {
      escaped_ = false;
      return false;
    }
    if (c == '\\') {
      escaped_ = true;
      return false;
    }
    if (c == '"') {
      quoted_ = !quoted_;
      return false;
    }
    return !quoted_ && c == separator;
  }

 private:
  bool escaped_ = false;
  bool quoted_ = false;
};

FrontendError invalid(std::string_view whole_text, const char* message) {
  return FrontendError::invalid_selector(std::string(whole_text), message);
}

constexpr std::string_view kQuotedCharacters = "!\"&/=@\\";

}  // namespace

std::optional<std::pair<std::string_view, std::string_view>> split_once_unquoted(std::string_view text,
                                                                                  char separator) {
  QuoteState state;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (state.active(text[i], separator)) return std::pair(text.substr(0, i), text.substr(i + 1));
  }
  return std::nullopt;
}

std::vector<std::string_view> split_unquoted(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  QuoteState state;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (state.active(text[i], separator)) {
      pieces.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

FrontendResult<std::string> unquote(std::string_view piece, std::string_view whole_text) {
  std::string out;
  out.reserve(piece.size());
  bool escaped = false;
  bool quoted = false;
  for (char c : piece) {
    if (escaped) {
      out += c;
      escaped = false;
    } else if (c == '\\') {
      escaped = true;
    } else if (c == '"') {
      quoted = !quoted;
    } else {
      out += c;
    }
  }
  if (escaped) return std::unexpected(invalid(whole_text, "selector ends with a dangling backslash escape"));
  if (quoted) return std::unexpected(invalid(whole_text, "selector has an unterminated quote"));
  return out;
}

FrontendResult<std::vector<std::string>> parse_path(std::string_view whole_text, std::string_view path) {
  if (path.empty()) return std::unexpected(invalid(whole_text, "selector must not be empty"));
  std::vector<std::string> segments;
  for (std::string_view piece : split_unquoted(path, '/')) {
    OSTREL_TRY_ASSIGN(auto segment, unquote(piece, whole_text));
    if (segment.empty()) return std::unexpected(invalid(whole_text, "selector path must not contain empty segments"));
    segments.push_back(std::move(segment));
  }
  return segments;
}

FrontendResult<core::SecretSelectorV1> parse(std::string_view text) {
  const auto split = split_once_unquoted(text, '@');
  OSTREL_TRY_ASSIGN(auto segments, parse_path(text, split ? split->first : text));

  std::vector<core::SecretLabelV1> labels;
  if (split) {
    for (std::string_view item : split_unquoted(split->second, '&')) {
      const auto pair = split_once_unquoted(item, '=');
      if (!pair) return std::unexpected(invalid(text, "secret labels are @key=value pairs separated by &"));
      OSTREL_TRY_ASSIGN(auto key, unquote(pair->first, text));
      OSTREL_TRY_ASSIGN(auto value, unquote(pair->second, text));
      if (key.empty() || value.empty())
        return std::unexpected(invalid(text, "label keys and values must not be empty"));
      labels.push_back({std::move(key), std::move(value)});
    }
  }
  // Normalisation, the sort and the duplicate-key check are those of every caller's selector.
  return core::SecretSelectorV1::from_input(std::vector<cord::Text>(segments.begin(), segments.end()),
                                            std::move(labels), text);
}

std::string quote(std::string_view piece) {
  if (!piece.empty() && piece.find_first_of(kQuotedCharacters) == std::string_view::npos) return std::string(piece);
  std::string out;
  out.reserve(piece.size() + 2);
  out += '"';
  for (char c : piece) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::vector<std::string> quote_all(const std::vector<std::string>& segments) {
  std::vector<std::string> out;
  out.reserve(segments.size());
  for (const std::string& s : segments) out.push_back(quote(s));
  return out;
}

std::string format(const core::SecretSelectorV1& selector) {
  std::string out = errors::joined(quote_all(std::vector<std::string>(selector.tuple.begin(), selector.tuple.end())),
                                   [](const std::string& s) { return s; }, "/");
  for (std::size_t i = 0; i < selector.labels.size(); ++i) {
    out += i == 0 ? '@' : '&';
    out += quote(selector.labels[i].key);
    out += '=';
    out += quote(selector.labels[i].value);
  }
  return out;
}

}  // namespace ostrel::frontend::selector
