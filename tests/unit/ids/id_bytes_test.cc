#include "ids/id_bytes.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "ids/identifiers.h"

namespace ostrel {
namespace {


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

}  // namespace
}  // namespace ostrel
