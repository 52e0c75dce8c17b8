// The domain hash against libsodium's one-shot SHA-256 of the framed bytes, built here by hand:
// data lengths on both sides of SHA-256's 64-byte blocks and of its padding, behind prefixes that
// end inside a block, on a block boundary and past a whole block. The known-answer vector sits
// with the identifiers (unit/core/ids_test.cc).
#include <gtest/gtest.h>
#include <sodium.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <latch>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "crypto/domain_hash.h"
#include "support/hex.h"

namespace ostrel::crypto {
namespace {

using testing::to_hex;

void append_framed(std::vector<std::uint8_t>& out, std::string_view part) {
  const std::uint64_t n = part.size();
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(n >> shift));
  out.insert(out.end(), part.begin(), part.end());
}

// SHA-256 of "ostrel.hash.v1", the tag and the data, each behind its big-endian 64-bit length.
std::string reference_hex(std::string_view tag, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> framed;
  append_framed(framed, "ostrel.hash.v1");
  append_framed(framed, tag);
  append_framed(framed, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  std::array<std::uint8_t, crypto_hash_sha256_BYTES> digest;
  crypto_hash_sha256(digest.data(), framed.data(), framed.size());
  return to_hex(digest);
}

// Bytes that differ from position to position, so a part cut short or shifted changes the hash.
std::vector<std::uint8_t> data_of(std::size_t n) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return out;
}

// With this tag the framing before the data fills exactly one block, so the data lengths below
// fall on the whole message's block and padding boundaries.
constexpr std::string_view kOneBlockTag = "ostrel.one-block-prefix.v1";
static_assert(8 + 14 + 8 + kOneBlockTag.size() + 8 == 64);

TEST(DomainHash, MatchesSha256OfTheFramedPartsAroundBlockBoundaries) {
  const std::string long_tag(100, 't');
  struct Tag {
    const char* name;
    std::string_view tag;
  };
  const Tag tags[] = {
      {"empty tag (prefix ends inside the first block)", ""},
      {"record tag", "ostrel.record-hash.v1"},
      {"prefix of exactly one block", kOneBlockTag},
      {"tag across a block boundary", long_tag},
  };
  const std::size_t lengths[] = {0, 1, 55, 56, 63, 64, 65, 119, 120, 1000};
  for (const Tag& t : tags) {
    for (const std::size_t n : lengths) {
      const auto data = data_of(n);
      EXPECT_EQ(to_hex(domain_hash(t.tag, data).bytes), reference_hex(t.tag, data)) << t.name << ", " << n
                                                                                    << " data bytes";
    }
  }
}

// Threads hashing at once each get their own digest: no hashing state is shared between them.
TEST(DomainHash, ConcurrentCallersGetTheirOwnDigests) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 10000;
  std::atomic<int> wrong{0};
  std::latch start(kThreads);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t, &wrong, &start] {
        const auto data = data_of(100 + 150 * static_cast<std::size_t>(t));
        const std::string tag = "ostrel.thread-" + std::to_string(t);
        const std::string want = reference_hex(tag, data);
        start.arrive_and_wait();
        for (int i = 0; i < kRounds; ++i) {
          if (to_hex(domain_hash(tag, data).bytes) != want) wrong.fetch_add(1);
        }
      });
    }
  }
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace ostrel::crypto
