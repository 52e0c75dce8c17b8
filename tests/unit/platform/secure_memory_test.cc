// The wiping allocator: every block a growing buffer leaves behind is zero when it goes back to
// the heap, and a request whose byte count does not fit in a size_t is refused before the heap is
// asked for anything.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <vector>

#include "cord/serializer.h"
#include "platform/secure_memory.h"

namespace ostrel::platform {
namespace {

// The global heap, noting for each block handed back its size and whether every byte was zero.
// Reading the block inside `release` is sound: it is still allocated until operator delete.
struct RecordingHeap {
  struct Released {
    std::size_t bytes;
    bool all_zero;
  };
  static inline std::vector<Released> released;

  static void* allocate(std::size_t bytes) { return GlobalHeap::allocate(bytes); }
  static void release(void* p, std::size_t bytes) noexcept {
    const auto* b = static_cast<const std::uint8_t*>(p);
    released.push_back({bytes, std::all_of(b, b + bytes, [](std::uint8_t x) { return x == 0; })});
    GlobalHeap::release(p, bytes);
  }
};

// cord::Buffer is exactly this vector over the global heap.
using RecordedBuffer = std::vector<std::uint8_t, WipingAllocator<std::uint8_t, RecordingHeap>>;
static_assert(std::is_same_v<cord::Buffer::allocator_type, WipingAllocator<std::uint8_t>>);

TEST(WipingAllocator, GrowingBufferWipesEveryBlockItLeaves) {
  RecordingHeap::released.clear();
  std::size_t growths = 0;
  {
    RecordedBuffer buffer;
    for (int i = 0; i < 5000; ++i) {
      const std::size_t before = buffer.capacity();
      buffer.push_back(0xa5);
      if (before != 0 && buffer.capacity() != before) {
        ++growths;
        ASSERT_EQ(RecordingHeap::released.size(), growths);
        EXPECT_EQ(RecordingHeap::released.back().bytes, before);
      }
    }
    ASSERT_GE(growths, 5u);
    // What moved to the new block is intact.
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t x) { return x == 0xa5; }));
    buffer.shrink_to_fit();
  }
  // Every growth, the shrink and the destruction each handed one block back, all of them wiped.
  ASSERT_GE(RecordingHeap::released.size(), growths + 1);
  for (std::size_t i = 0; i < RecordingHeap::released.size(); ++i) {
    EXPECT_TRUE(RecordingHeap::released[i].all_zero) << "block " << i << " of "
                                                     << RecordingHeap::released[i].bytes << " bytes";
  }
}

// A heap that notes the size asked for and refuses it, so sizes near the limit can be tried.
struct RefusingHeap {
  static inline std::optional<std::size_t> asked;
  static void* allocate(std::size_t bytes) {
    asked = bytes;
    throw std::bad_alloc();
  }
  static void release(void*, std::size_t) noexcept {}
};

struct Wide {
  std::array<std::uint8_t, 24> bytes;
};

enum class Outcome { TooLong, HeapAsked };

template <class T, class Heap>
Outcome try_allocate(std::size_t n) {
  try {
    WipingAllocator<T, Heap>().allocate(n);
  } catch (const std::bad_array_new_length&) {
    return Outcome::TooLong;
  } catch (const std::bad_alloc&) {
    return Outcome::HeapAsked;
  }
  ADD_FAILURE() << "the refusing heap gave memory";
  return Outcome::HeapAsked;
}

TEST(WipingAllocator, ByteCountThatOverflowsIsRefusedBeforeTheHeap) {
  constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
  struct Case {
    const char* name;
    Outcome (*attempt)(std::size_t);
    std::size_t n;
    std::optional<std::size_t> want_asked;  // absent: refused as too long
  };
  const Case cases[] = {
      {"8-byte elements, product wraps to 0", try_allocate<std::uint64_t, RefusingHeap>, kMax / 8 + 1, {}},
      {"8-byte elements, product wraps near the top", try_allocate<std::uint64_t, RefusingHeap>, kMax, {}},
      {"24-byte elements, one past the limit", try_allocate<Wide, RefusingHeap>, kMax / 24 + 1, {}},
      {"8-byte elements at the limit", try_allocate<std::uint64_t, RefusingHeap>, kMax / 8, kMax / 8 * 8},
      {"24-byte elements at the limit", try_allocate<Wide, RefusingHeap>, kMax / 24, kMax / 24 * 24},
      {"bytes never overflow", try_allocate<std::uint8_t, RefusingHeap>, kMax, kMax},
  };
  for (const Case& c : cases) {
    RefusingHeap::asked.reset();
    const Outcome got = c.attempt(c.n);
    EXPECT_EQ(got, c.want_asked ? Outcome::HeapAsked : Outcome::TooLong) << c.name;
    EXPECT_EQ(RefusingHeap::asked, c.want_asked) << c.name;
  }
  // The global heap's allocator refuses the same way.
  EXPECT_THROW(WipingAllocator<std::uint64_t>().allocate(kMax / 8 + 1), std::bad_array_new_length);
}

}  // namespace
}  // namespace ostrel::platform
