// Memory that holds secrets: wiping on release. Pure functions and an allocator with no state;
// safe from any thread.
#pragma once

#include <cstddef>
#include <limits>
#include <new>

namespace ostrel::platform {

// Overwrites `n` bytes at `p` with zeros in a way the compiler may not elide.
void secure_wipe(void* p, std::size_t n) noexcept;

// Where wiping allocators take their blocks from and give them back: the global heap.
struct GlobalHeap {
  static void* allocate(std::size_t bytes) { return ::operator new(bytes); }
  static void release(void* p, std::size_t bytes) noexcept { ::operator delete(p, bytes); }
};

// An allocator that zeroes every block before returning it to the heap, so a growing container
// leaves no stale copies of its contents behind when it reallocates or is destroyed. `Heap`
// exists so that tests can look at a block as it is handed back.
template <class T, class Heap = GlobalHeap>
struct WipingAllocator {
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "the heap gives default alignment only");
  using value_type = T;

  WipingAllocator() noexcept = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U, Heap>&) noexcept {}  // NOLINT: allocator rebinding

  // Throws std::bad_array_new_length when `n` elements do not fit in a size_t of bytes, as
  // std::allocator does, instead of allocating a wrapped-around smaller block.
  T* allocate(std::size_t n) {
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(Heap::allocate(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    secure_wipe(p, n * sizeof(T));
    Heap::release(p, n * sizeof(T));
  }

  template <class U>
  bool operator==(const WipingAllocator<U, Heap>&) const noexcept {
    return true;
  }
};

}  // namespace ostrel::platform
