// The pieces of the selector grammar that parse and format are made of, exposed for tests.
// Pure functions; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frontend/selector/grammar.h"

namespace ostrel::frontend::selector {

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
