// Secret bytes made from and read back as text, for tests that seal and open values.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/secret.h"

namespace ostrel::testing {

// The bytes of `text` in wiping memory.
inline platform::SecretBytes secret_of(std::string_view text) {
  return platform::SecretBytes::copy_of({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

// The bytes of a secret as a plain string, to compare in an assertion.
inline std::string text_of(const platform::SecretBytes& secret) {
  return std::string(secret.span().begin(), secret.span().end());
}

}  // namespace ostrel::testing
