#include "platform/console.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/file.h"
#include "platform/secure_memory.h"

namespace ostrel::platform {
namespace {

std::unexpected<ConsoleError> os_failure(int code) { return std::unexpected(ConsoleError{code, false}); }

// Puts the terminal's saved settings back when dropped, whatever way the prompt ends.
class RestoreTerminal {
 public:
  RestoreTerminal(int fd, const termios& saved) : fd_(fd), saved_(saved) {}
  RestoreTerminal(const RestoreTerminal&) = delete;
  RestoreTerminal& operator=(const RestoreTerminal&) = delete;
  ~RestoreTerminal() { (void)::tcsetattr(fd_, TCSANOW, &saved_); }

 private:
  int fd_;
  termios saved_;
};

}  // namespace

Result<SecretBytes, ConsoleError> read_hidden_line(std::string_view prompt) {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return os_failure(errno);
  File tty(fd);

  termios saved{};
  if (::tcgetattr(fd, &saved) != 0) return os_failure(errno);
  termios hidden = saved;
  hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  hidden.c_lflag |= ECHONL;  // the user still sees the line end
  if (::tcsetattr(fd, TCSANOW, &hidden) != 0) return os_failure(errno);
  RestoreTerminal restore(fd, saved);

  const auto* text = reinterpret_cast<const std::uint8_t*>(prompt.data());
  if (auto written = write_all(tty, std::span(text, prompt.size())); !written) return os_failure(written.error().code);

  // Grows in wiping memory, so no stale copy of a prefix is left behind by a reallocation.
  std::vector<std::uint8_t, WipingAllocator<std::uint8_t>> line;
  line.reserve(64);
  SecretArray<1> c;
  for (;;) {
    const ssize_t n = ::read(fd, c.data(), 1);
    if (n < 0) return os_failure(errno);
    if (n == 0) return std::unexpected(ConsoleError{0, true});
    if (c.data()[0] == '\n') break;
    line.push_back(c.data()[0]);
  }
  return SecretBytes::copy_of(line);
}

}  // namespace ostrel::platform
