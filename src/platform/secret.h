// Buffers for secret bytes (seeds, private keys, derived keys, plaintexts and their fields): they
// keep their bytes in the secret heap (left out of core dumps), wipe themselves when destroyed or
// moved from, cannot be copied by accident, have no `==` and never turn into a string or a vector
// by themselves. Not thread-safe: one owner at a time, like any value.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "platform/secure_memory.h"

namespace ostrel::platform {

// A secret of a size fixed at compile time. Its bytes live in a block of the secret heap, never
// inside the object itself, so wherever the object sits (a stack frame, a session) the secret
// stays out of core dumps.
template <std::size_t N>
class SecretArray {
 public:
  static constexpr std::size_t kSize = N;

  // All zeros.
  SecretArray() : bytes_(zeroed_block()) {}
  explicit SecretArray(std::span<const std::uint8_t, N> bytes) : bytes_(zeroed_block()) {
    std::copy(bytes.begin(), bytes.end(), bytes_);
  }

  SecretArray(const SecretArray&) = delete;
  SecretArray& operator=(const SecretArray&) = delete;
  // A move hands the block over and leaves the source a fresh block of zeros, so only one copy
  // lives on and the source stays usable. A move cannot fail: running out of memory for the
  // source's block ends the process.
  SecretArray(SecretArray&& other) noexcept : bytes_(std::exchange(other.bytes_, zeroed_block())) {}
  SecretArray& operator=(SecretArray&& other) noexcept {
    if (this != &other) {
      std::swap(bytes_, other.bytes_);
      other.wipe();
    }
    return *this;
  }
  ~SecretArray() {
    WipingAllocator<std::uint8_t>().deallocate(bytes_, N);
    // Nor does the object keep the address where the secret was.
    secure_wipe(&bytes_, sizeof bytes_);
  }

  // The one way to make a second copy: it has to be asked for by name.
  SecretArray clone() const { return SecretArray(span()); }

  static constexpr std::size_t size() noexcept { return N; }
  std::uint8_t* data() noexcept { return bytes_; }
  const std::uint8_t* data() const noexcept { return bytes_; }
  std::span<std::uint8_t, N> span() noexcept { return std::span<std::uint8_t, N>(bytes_, N); }
  std::span<const std::uint8_t, N> span() const noexcept { return std::span<const std::uint8_t, N>(bytes_, N); }

  void wipe() noexcept { secure_wipe(bytes_, N); }

 private:
  static std::uint8_t* zeroed_block() {
    std::uint8_t* block = WipingAllocator<std::uint8_t>().allocate(N);
    std::fill_n(block, N, std::uint8_t{0});
    return block;
  }

  std::uint8_t* bytes_;  // N bytes from the secret heap; never null
};

// A secret whose length is known only at run time (a decrypted plaintext, a value or field of
// one, a long HKDF output). The length is fixed when it is made; it never grows, so no stale copy
// is ever left behind by a reallocation. Its block comes from the wiping allocator.
class SecretBytes {
 public:
  // Empty.
  SecretBytes() noexcept = default;
  // `n` zero bytes.
  explicit SecretBytes(std::size_t n);
  static SecretBytes copy_of(std::span<const std::uint8_t> bytes);

  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  // A move hands the storage over; the source is left empty.
  SecretBytes(SecretBytes&& other) noexcept
      : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  SecretBytes& operator=(SecretBytes&& other) noexcept;
  ~SecretBytes() { release(); }

  // The one way to make a second copy.
  SecretBytes clone() const { return copy_of(span()); }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  std::uint8_t* data() noexcept { return bytes_; }
  const std::uint8_t* data() const noexcept { return bytes_; }
  std::span<std::uint8_t> span() noexcept { return {bytes_, size_}; }
  std::span<const std::uint8_t> span() const noexcept { return {bytes_, size_}; }

 private:
  // Wipes and frees the storage; leaves the buffer empty.
  void release() noexcept;

  std::uint8_t* bytes_ = nullptr;
  std::size_t size_ = 0;
};

// Whether two secrets hold the same bytes, in time that depends on their lengths only.
[[nodiscard]] bool constant_time_equal(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) noexcept;

}  // namespace ostrel::platform
