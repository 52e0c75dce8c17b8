// The selector text grammar: a path of segments split at "/", then optionally "@" and labels
// "key=value" split at "&". A backslash makes the next character literal; a double quote switches
// quoted mode, in which no separator counts. `parse` turns caller text into a selector and
// `format` writes a selector's canonical text, which parses back to it. Pure functions; safe from
// any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/access.h"
#include "errors/frontend_error.h"

namespace ostrel::frontend::selector {

// A selector text to its selector: segments in text order, every piece unquoted and brought to
// NFC, labels sorted by key then value (bytes), each key once. Every failure is
// FrontendError::InvalidSelector holding `text` whole; the path's faults come before the labels',
// the labels' in text order.
FrontendResult<core::SecretSelectorV1> parse(std::string_view text);

// The canonical text: the quoted segments joined with "/", then "@" before the first label and
// "&" before each later one, each as quoted key "=" quoted value, in the order held. Never fails;
// a selector without segments gives a text that does not parse.
std::string format(const core::SecretSelectorV1& selector);

// The parts before and after the first active `separator`, or nothing when none is active. Both
// parts keep their backslashes and double quotes.
std::optional<std::pair<std::string_view, std::string_view>> split_once_unquoted(std::string_view text,
                                                                                  char separator);

// The pieces between active separators; at least one (an empty text is one empty piece). Quoted
// mode carries across separators.
std::vector<std::string_view> split_unquoted(std::string_view text, char separator);

// One piece with its backslashes and double quotes taken out. A trailing unescaped backslash
// fails first, then an open quote; the error names `whole_text`.
FrontendResult<std::string> unquote(std::string_view piece, std::string_view whole_text);

// The path part as its unquoted segments, none of them empty; the error names `whole_text`.
FrontendResult<std::vector<std::string>> parse_path(std::string_view whole_text, std::string_view path);

// A piece as written in canonical text: between double quotes (inner double quotes and
// backslashes behind a backslash) when empty or holding one of ! " & / = @ \, else unchanged.
std::string quote(std::string_view piece);

// quote() of every segment, in order.
std::vector<std::string> quote_all(const std::vector<std::string>& segments);

}  // namespace ostrel::frontend::selector
