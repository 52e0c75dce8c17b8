#include "platform/secure_memory.h"

#include <pthread.h>
#include <sodium.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <mutex>
#include <type_traits>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace ostrel::platform {
namespace {

// Pooled block sizes: the powers of two from 16 bytes to 4 KiB, cut from mappings of 64 KiB.
constexpr std::size_t kSmallestBlock = 16;
constexpr std::size_t kLargestBlock = 4096;
constexpr std::size_t kBlockSizes = std::countr_zero(kLargestBlock) - std::countr_zero(kSmallestBlock) + 1;
constexpr std::size_t kPoolMapping = std::size_t{64} << 10;

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer does not see inside the pool, so the pool tells it what is in use. Each block
// also gets room behind it that stays poisoned, so that an overrun is caught even where the next
// block is in use.
constexpr std::size_t kRedzone = 16;
void poison(void* p, std::size_t n) { ASAN_POISON_MEMORY_REGION(p, n); }
void unpoison(void* p, std::size_t n) { ASAN_UNPOISON_MEMORY_REGION(p, n); }
#else
constexpr std::size_t kRedzone = 0;
void poison(void*, std::size_t) {}
void unpoison(void*, std::size_t) {}
#endif

// Requests above this get a mapping of their own.
constexpr std::size_t kLargestPooled = kLargestBlock - kRedzone;

std::size_t page_size() {
  static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

// Fresh read-write pages that core dumps leave out; nullptr when none can be mapped.
void* map_undumped(std::size_t bytes) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  // Best effort: where the kernel refuses the mark the memory works all the same.
  (void)::madvise(p, bytes, MADV_DONTDUMP);
  return p;
}

// The index of the pooled size that holds `bytes` (and the red zone).
// REQUIRES: bytes <= kLargestPooled.
std::size_t size_index(std::size_t bytes) {
  const std::size_t block = std::bit_ceil(std::max(bytes + kRedzone, kSmallestBlock));
  return static_cast<std::size_t>(std::countr_zero(block) - std::countr_zero(kSmallestBlock));
}

std::size_t block_size(std::size_t index) { return kSmallestBlock << index; }

// The bytes mapped for a request larger than kLargestPooled, or 0 when that would overflow.
std::size_t mapping_size(std::size_t bytes) {
  const std::size_t page = page_size();
  if (bytes > SIZE_MAX - kRedzone - page) return 0;
  return (bytes + kRedzone + page - 1) / page * page;
}

// The pooled blocks not in use, one list per size, linked through their first bytes. Blocks are
// never unmapped: they wait for the next secret of their size.
class Pool {
 public:
  // Throws std::bad_alloc when the list is empty and no memory can be mapped to refill it.
  void* take(std::size_t index) {
    std::lock_guard lock(mutex_);
    if (free_[index] == nullptr) refill(index);
    FreeBlock* block = free_[index];
    unpoison(block, sizeof(FreeBlock));
    free_[index] = block->next;
    return block;
  }

  void give(void* p, std::size_t index) noexcept {
    std::lock_guard lock(mutex_);
    push(p, index);
  }

  // A child forked while another thread held the lock would wait for it forever: fork takes the
  // lock first and both sides let it go after.
  void lock() noexcept { mutex_.lock(); }
  void unlock() noexcept { mutex_.unlock(); }

 private:
  struct FreeBlock {
    FreeBlock* next;
  };

  // REQUIRES: the lock is held.
  void push(void* p, std::size_t index) noexcept {
    unpoison(p, sizeof(FreeBlock));
    free_[index] = new (p) FreeBlock{free_[index]};
    poison(p, block_size(index));
  }

  // REQUIRES: the lock is held.
  void refill(std::size_t index) {
    const std::size_t bytes = std::max(kPoolMapping, page_size());
    auto* base = static_cast<std::uint8_t*>(map_undumped(bytes));
    if (base == nullptr) throw std::bad_alloc();
    for (std::size_t offset = bytes; offset != 0;) {
      offset -= block_size(index);
      push(base + offset, index);
    }
  }

  std::mutex mutex_;
  FreeBlock* free_[kBlockSizes] = {};
};

// Never destroyed, so that secrets released while the process exits still find it.
static_assert(std::is_trivially_destructible_v<std::mutex>);
constinit Pool pool;

void register_fork_handlers() {
  static const bool registered = [] {
    ::pthread_atfork([] { pool.lock(); }, [] { pool.unlock(); }, [] { pool.unlock(); });
    return true;
  }();
  (void)registered;
}

}  // namespace

void secure_wipe(void* p, std::size_t n) noexcept {
  if (p != nullptr && n != 0) sodium_memzero(p, n);
}

void* SecretHeap::allocate(std::size_t bytes) {
  if (bytes > kLargestPooled) {
    const std::size_t mapped = mapping_size(bytes);
    void* p = mapped == 0 ? nullptr : map_undumped(mapped);
    if (p == nullptr) throw std::bad_alloc();
    poison(static_cast<std::uint8_t*>(p) + bytes, mapped - bytes);
    return p;
  }
  register_fork_handlers();
  const std::size_t index = size_index(bytes);
  void* p = pool.take(index);
  poison(p, block_size(index));
  unpoison(p, bytes);
  return p;
}

void SecretHeap::release(void* p, std::size_t bytes) noexcept {
  if (p == nullptr) return;
  if (bytes > kLargestPooled) {
    const std::size_t mapped = mapping_size(bytes);
    // Whatever is mapped here next starts with clean shadow memory.
    unpoison(p, mapped);
    (void)::munmap(p, mapped);
    return;
  }
  pool.give(p, size_index(bytes));
}

}  // namespace ostrel::platform
