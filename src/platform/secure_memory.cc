#include "platform/secure_memory.h"

#include <sodium.h>

namespace ostrel::platform {

void secure_wipe(void* p, std::size_t n) noexcept {
  if (p != nullptr && n != 0) sodium_memzero(p, n);
}

}  // namespace ostrel::platform
