#include "errors/text_form.h"

namespace ostrel::text {

std::string decimal_bytes(std::span<const std::uint8_t> bytes) {
  return bracketed(bytes, [](std::uint8_t b) { return std::to_string(b); });
}

}  // namespace ostrel::text
