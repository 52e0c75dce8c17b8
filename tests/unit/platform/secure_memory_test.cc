// The wiping allocator: every block a growing buffer leaves behind is zero when it goes back to
// the heap, a request whose byte count does not fit in a size_t is refused before the heap is
// asked for anything, and secret memory of every size is left out of core dumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "platform/secret.h"
#include "platform/secure_memory.h"
#include "support/core_dump.h"

namespace ostrel::platform {
namespace {

// The secret heap, noting for each block handed back its size and whether every byte was zero.
// Reading the block inside `release` is sound: it is still in use until SecretHeap::release.
struct RecordingHeap {
  struct Released {
    std::size_t bytes;
    bool all_zero;
  };
  static inline std::vector<Released> released;

  static void* allocate(std::size_t bytes) { return SecretHeap::allocate(bytes); }
  static void release(void* p, std::size_t bytes) noexcept {
    const auto* b = static_cast<const std::uint8_t*>(p);
    released.push_back({bytes, std::all_of(b, b + bytes, [](std::uint8_t x) { return x == 0; })});
    SecretHeap::release(p, bytes);
  }
};

// A growing buffer over the secret heap (what the wire format's buffers are), noting each block.
using RecordedBuffer = std::vector<std::uint8_t, WipingAllocator<std::uint8_t, RecordingHeap>>;
using SecretBuffer = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

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

// A heap whose blocks arrive filled with 0x5a, so that what zeroes them can be seen; blocks go
// back through RecordingHeap.
struct FilledHeap {
  static void* allocate(std::size_t bytes) {
    void* p = SecretHeap::allocate(bytes);
    std::fill_n(static_cast<std::uint8_t*>(p), bytes, std::uint8_t{0x5a});
    return p;
  }
  static void release(void* p, std::size_t bytes) noexcept { RecordingHeap::release(p, bytes); }
};
using FilledBuffer = std::vector<std::uint8_t, WipingAllocator<std::uint8_t, FilledHeap>>;

// unzeroed_bytes leaves the heap's bytes as they came, in pooled and mapped blocks alike, while
// every other way of making bytes (a sized buffer, growth by resize) still zeroes them; blocks of
// either kind are wiped when they go back.
TEST(WipingAllocator, OnlyUnzeroedBytesSkipTheZeroing) {
  auto all = [](const FilledBuffer& b, std::size_t from, std::uint8_t want) {
    return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(from), b.end(), [&](std::uint8_t x) { return x == want; });
  };
  for (const std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{4096}, std::size_t{4097}, std::size_t{3} << 20}) {
    SCOPED_TRACE(n);
    RecordingHeap::released.clear();
    {
      FilledBuffer unset = unzeroed_bytes<FilledHeap>(n);
      ASSERT_EQ(unset.size(), n);
      EXPECT_TRUE(all(unset, 0, 0x5a));
      unset.resize(n + 100);  // grows into a new block: the new bytes are zero
      EXPECT_TRUE(all(unset, n, 0));
      FilledBuffer sized(n);
      EXPECT_TRUE(all(sized, 0, 0));
      FilledBuffer grown;
      grown.reserve(n + 8);
      grown.resize(n + 8);
      EXPECT_TRUE(all(grown, 0, 0));
    }
    for (const RecordingHeap::Released& r : RecordingHeap::released) EXPECT_TRUE(r.all_zero) << r.bytes << " bytes";
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
  // The secret heap's allocator refuses the same way.
  EXPECT_THROW(WipingAllocator<std::uint64_t>().allocate(kMax / 8 + 1), std::bad_array_new_length);
}

// Every byte a secret can occupy lies in pages that core dumps leave out: small blocks and
// large ones, fixed-size arrays, a moved-from array's fresh block, and a growing buffer at
// each of its sizes.
TEST(SecretMemory, IsLeftOutOfCoreDumps) {
  using ostrel::testing::left_out_of_core_dumps;
  for (const std::size_t n : {std::size_t{1}, std::size_t{32}, std::size_t{100}, std::size_t{4096},
                              std::size_t{5000}, std::size_t{1} << 20}) {
    SecretBytes secret(n);
    EXPECT_TRUE(left_out_of_core_dumps(secret.data(), n)) << n << " bytes";
  }
  SecretArray<32> key;
  SecretArray<64> signing;
  EXPECT_TRUE(left_out_of_core_dumps(key.data(), 32));
  EXPECT_TRUE(left_out_of_core_dumps(signing.data(), 64));
  SecretArray<32> moved(std::move(key));
  EXPECT_TRUE(left_out_of_core_dumps(moved.data(), 32));
  EXPECT_TRUE(left_out_of_core_dumps(key.data(), 32));  // NOLINT: the moved-from block too

  SecretBuffer buffer;
  for (int i = 0; i < 100'000; ++i) {
    const std::size_t before = buffer.capacity();
    buffer.push_back(0x5a);
    if (buffer.capacity() != before) {
      EXPECT_TRUE(left_out_of_core_dumps(buffer.data(), buffer.capacity())) << buffer.capacity() << " bytes";
    }
  }
}

// Threads share one pool: blocks taken and given back at the same time by several threads, of
// pooled and mapped sizes, never overlap and keep what was written into them.
TEST(SecretMemory, ThreadsNeverShareABlock) {
  constexpr int kThreads = 4;
  constexpr std::size_t kLive = 64;
  std::vector<std::thread> threads;
  std::atomic<int> damaged{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &damaged] {
      std::vector<SecretBytes> live(kLive);
      for (std::size_t round = 0; round < 2000; ++round) {
        const std::size_t slot = (round * 7) % kLive;
        const std::size_t size = 1 + (round * 131 + static_cast<std::size_t>(t) * 17) % 6000;
        const auto mark = static_cast<std::uint8_t>(t * kLive + slot);
        live[slot] = SecretBytes(size);
        std::fill_n(live[slot].data(), size, mark);
        for (std::size_t i = 0; i < kLive; ++i) {
          const auto want = static_cast<std::uint8_t>(t * kLive + i);
          const auto bytes = live[i].span();
          if (!std::all_of(bytes.begin(), bytes.end(), [&](std::uint8_t b) { return b == want; })) ++damaged;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(damaged.load(), 0);
}

}  // namespace
}  // namespace ostrel::platform
