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

}  // namespace ostrel::frontend::selector
