#include "crypto/secret.h"

#include <algorithm>

namespace ostrel::crypto {

SecretBytes::SecretBytes(std::size_t n) : bytes_(n == 0 ? nullptr : new std::uint8_t[n]()), size_(n) {}

SecretBytes SecretBytes::copy_of(std::span<const std::uint8_t> bytes) {
  SecretBytes out(bytes.size());
  std::copy(bytes.begin(), bytes.end(), out.data());
  return out;
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : bytes_(std::move(other.bytes_)), size_(std::exchange(other.size_, 0)) {}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    release();
    bytes_ = std::move(other.bytes_);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void SecretBytes::release() noexcept {
  platform::secure_wipe(bytes_.get(), size_);
  bytes_.reset();
  size_ = 0;
}

}  // namespace ostrel::crypto
