#include "ids/id_bytes.h"

#include <limits>
#include <stdexcept>
#include <string>

namespace ostrel {

void IdBytes::assign(std::span<const std::uint8_t> bytes) {
  const std::size_t n = bytes.size();
  if (n > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("identifier bytes too long");
  if (n <= kInline) {
    // The source may be these very bytes.
    std::uint8_t copy[kInline];
    if (n != 0) std::memcpy(copy, bytes.data(), n);
    release();
    if (n != 0) std::memcpy(storage_, copy, n);
  } else {
    auto* p = new std::uint8_t[n];
    std::memcpy(p, bytes.data(), n);
    release();
    std::memcpy(storage_, &p, sizeof p);
  }
  size_ = static_cast<std::uint32_t>(n);
}

std::string decimal_bytes(std::span<const std::uint8_t> bytes) {
  std::string out = "[";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) out += ", ";
    out += std::to_string(bytes[i]);
  }
  return out + "]";
}

}  // namespace ostrel
