#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace ostrel::platform {

void random_bytes(std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::getrandom(out.data() + done, out.size() - done, 0);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      throw InternalFailure(std::string("operating-system random source failed: ") + std::strerror(errno));
    }
  }
}

}  // namespace ostrel::platform
