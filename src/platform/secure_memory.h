// Memory that holds secrets: wiped on release, and kept in pages that core dumps leave out.
// Pure functions, an allocator with no state, and one process-wide heap behind a lock; safe from
// any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <new>
#include <type_traits>
#include <vector>

namespace ostrel::platform {

// Overwrites `n` bytes at `p` with zeros in a way the compiler may not elide.
void secure_wipe(void* p, std::size_t n) noexcept;

// Where wiping allocators take their blocks from and give them back. Every block lies in pages
// marked MADV_DONTDUMP, so core dumps of the process leave out what is kept here (best effort:
// where the kernel refuses the mark, the memory works all the same). Blocks of up to 4 KiB come
// from pooled 64 KiB mappings and are kept for reuse; larger ones get a mapping of their own,
// unmapped on release. Blocks are aligned to 16 bytes.
struct SecretHeap {
  // Throws std::bad_alloc when no memory can be mapped. The contents are unspecified.
  static void* allocate(std::size_t bytes);
  // REQUIRES: `p` came from allocate(bytes), with the same `bytes`.
  static void release(void* p, std::size_t bytes) noexcept;
};

// Handed to WipingAllocator::construct, it leaves an element as the heap gave it out instead of
// zeroing it: for a buffer overwritten whole right away (unzeroed_bytes).
struct LeftUnset {};

// An allocator that zeroes every block before returning it to the heap, so a growing container
// leaves no stale copies of its contents behind when it reallocates or is destroyed. `Heap`
// exists so that tests can look at a block as it is handed back.
template <class T, class Heap = SecretHeap>
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
  // Only LeftUnset selects this; every other construction (resize's zeroing included) is the
  // standard one.
  template <class U>
    requires std::is_trivially_default_constructible_v<U>
  void construct(U* p, LeftUnset) noexcept {
    ::new (static_cast<void*>(p)) U;
  }

  template <class U>
  bool operator==(const WipingAllocator<U, Heap>&) const noexcept {
    return true;
  }
};

namespace detail {
// `n` LeftUnset values, as the range a vector is built from.
class LeftUnsetRange {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = LeftUnset;
  using difference_type = std::ptrdiff_t;
  using pointer = const LeftUnset*;
  using reference = LeftUnset;

  LeftUnsetRange() = default;
  explicit LeftUnsetRange(std::size_t at) : at_(at) {}
  LeftUnset operator*() const { return {}; }
  LeftUnsetRange& operator++() {
    ++at_;
    return *this;
  }
  LeftUnsetRange operator++(int) { return LeftUnsetRange(at_++); }
  friend difference_type operator-(LeftUnsetRange a, LeftUnsetRange b) {
    return static_cast<difference_type>(a.at_ - b.at_);
  }
  friend bool operator==(LeftUnsetRange, LeftUnsetRange) = default;

 private:
  std::size_t at_ = 0;
};
}  // namespace detail

// A wiping vector of `n` bytes that are not zeroed first, for a buffer whose every byte is
// written right away (a file read into it): zeroing 160 MiB only for read() to overwrite it costs
// a pass over memory. The bytes hold whatever the heap handed out (never a secret: released
// blocks were wiped), so a caller that writes fewer must shrink the vector to what it wrote.
template <class Heap = SecretHeap>
std::vector<std::uint8_t, WipingAllocator<std::uint8_t, Heap>> unzeroed_bytes(std::size_t n) {
  return std::vector<std::uint8_t, WipingAllocator<std::uint8_t, Heap>>(detail::LeftUnsetRange(0),
                                                                        detail::LeftUnsetRange(n));
}

}  // namespace ostrel::platform
