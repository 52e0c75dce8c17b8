// Memory that holds secrets: wiping on release. Pure functions and an allocator with no state;
// safe from any thread.
#pragma once

#include <cstddef>
#include <new>

namespace ostrel::platform {

// Overwrites `n` bytes at `p` with zeros in a way the compiler may not elide.
void secure_wipe(void* p, std::size_t n) noexcept;

// An allocator that zeroes every block before returning it to the heap, so a growing container
// leaves no stale copies of its contents behind when it reallocates or is destroyed.
template <class T>
struct WipingAllocator {
  using value_type = T;

  WipingAllocator() noexcept = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}  // NOLINT: allocator rebinding

  T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept {
    secure_wipe(p, n * sizeof(T));
    ::operator delete(p);
  }

  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace ostrel::platform
