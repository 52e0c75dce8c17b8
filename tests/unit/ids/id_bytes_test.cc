#include "ids/id_bytes.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "cord/codec.h"
#include "ids/identifiers.h"
#include "support/hex.h"

namespace ostrel {
namespace {

using testing::from_hex;
using testing::to_hex;

std::vector<std::uint8_t> filled(std::size_t n) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i + 1);
  return out;
}

// Lengths around the inline capacity keep their bytes through copies, moves and assignments
// between the inline and the heap form.
TEST(IdBytes, EveryLengthSurvivesCopiesAndMoves) {
  for (std::size_t n : {0u, 1u, 31u, 32u, 33u, 64u}) {
    const std::vector<std::uint8_t> want = filled(n);
    IdBytes a(want);
    EXPECT_EQ(std::vector<std::uint8_t>(a.begin(), a.end()), want) << n;
    IdBytes copy = a;
    IdBytes moved = std::move(a);
    EXPECT_EQ(copy, moved) << n;
    EXPECT_EQ(std::vector<std::uint8_t>(moved.begin(), moved.end()), want) << n;
    for (std::size_t m : {0u, 32u, 40u}) {
      IdBytes other(filled(m));
      other = copy;
      EXPECT_EQ(other, copy) << n << " over " << m;
      IdBytes taken(filled(m));
      taken = std::move(other);
      EXPECT_EQ(taken, copy) << n << " over " << m;
    }
    IdBytes self(want);
    const IdBytes& alias = self;
    self = alias;
    self.assign(self.span());
    EXPECT_EQ(std::vector<std::uint8_t>(self.begin(), self.end()), want) << n;
  }
}

TEST(IdBytes, OrderIsByteOrderWithAProperPrefixFirst) {
  EXPECT_LT(IdBytes({1, 2}), IdBytes({1, 2, 0}));
  EXPECT_LT(IdBytes({1, 2, 0xff}), IdBytes({1, 3}));
  EXPECT_LT(IdBytes(), IdBytes({0}));
  EXPECT_LT(IdBytes(filled(32)), IdBytes(filled(33)));
  EXPECT_EQ(IdBytes(filled(40)), IdBytes(filled(40)));
  EXPECT_NE(IdBytes(filled(40)), IdBytes(filled(41)));
}

// Identifiers of any length decode, and encode back to the same bytes.
TEST(IdBytes, DecodesAnyLengthAsAByteString) {
  for (const char* hex : {"00000000", "00000003 010203", "00000021 000102030405060708090a0b0c0d0e0f"
                                                         "101112131415161718191a1b1c1d1e1f20"}) {
    auto id = cord::from_slice<UserId>(from_hex(hex));
    ASSERT_TRUE(id) << hex;
    auto back = cord::to_vec(*id);
    ASSERT_TRUE(back);
    EXPECT_EQ(to_hex(*back), to_hex(from_hex(hex)));
  }
}

}  // namespace
}  // namespace ostrel
