#include "platform/secret.h"

#include <sodium.h>

#include <algorithm>

namespace ostrel::platform {

SecretBytes::SecretBytes(std::size_t n)
    : bytes_(n == 0 ? nullptr : WipingAllocator<std::uint8_t>().allocate(n)), size_(n) {
  std::fill_n(bytes_, n, std::uint8_t{0});
}

SecretBytes SecretBytes::copy_of(std::span<const std::uint8_t> bytes) {
  SecretBytes out(bytes.size());
  std::copy(bytes.begin(), bytes.end(), out.data());
  return out;
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    release();
    bytes_ = std::exchange(other.bytes_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void SecretBytes::release() noexcept {
  if (bytes_ != nullptr) WipingAllocator<std::uint8_t>().deallocate(bytes_, size_);
  bytes_ = nullptr;
  size_ = 0;
}

bool constant_time_equal(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) noexcept {
  if (a.size() != b.size()) return false;
  return a.empty() || sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace ostrel::platform
