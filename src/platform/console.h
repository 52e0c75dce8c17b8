// Reading a passphrase from the terminal: the prompt goes to /dev/tty and one line is read back
// with echo off. The terminal's settings are put back on every path. Blocks the calling thread
// until the line ends; safe from any thread, one prompt at a time per terminal.
#pragma once

#include <expected>
#include <string_view>

#include "platform/result.h"
#include "platform/secret.h"

namespace ostrel::platform {

// Why a console read failed: the system's error code, or the input ending before the line did.
struct ConsoleError {
  int code = 0;  // errno; 0 when the input ended
  bool end_of_input = false;
  friend bool operator==(const ConsoleError&, const ConsoleError&) = default;
};

// Opens /dev/tty without making it the controlling terminal, turns echo off (keeping line
// editing and the signal keys, and echoing the final line break), writes `prompt`, and reads
// up to the line break into wiping memory. The line break is not part of the result. A read
// interrupted by a signal (EINTR) fails rather than being retried, so an interrupt ends the
// prompt; so does end of input before the line break.
Result<SecretBytes, ConsoleError> read_hidden_line(std::string_view prompt);

}  // namespace ostrel::platform
