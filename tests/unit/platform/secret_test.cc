// Secret buffers: one live copy, wiped when moved from or destroyed, never silently a container,
// compared only in constant time and by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <concepts>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/secret.h"

namespace ostrel::platform {
namespace {

// Copies and conversions must be asked for by name.
static_assert(!std::is_copy_constructible_v<SecretArray<32>>);
static_assert(!std::is_copy_assignable_v<SecretArray<32>>);
static_assert(!std::is_copy_constructible_v<SecretBytes>);
static_assert(!std::is_copy_assignable_v<SecretBytes>);
static_assert(!std::is_convertible_v<const SecretArray<32>&, std::vector<std::uint8_t>>);
static_assert(!std::is_convertible_v<const SecretArray<32>&, std::string>);
static_assert(!std::is_convertible_v<const SecretBytes&, std::vector<std::uint8_t>>);
static_assert(!std::is_convertible_v<const SecretBytes&, std::string>);
static_assert(!std::is_convertible_v<std::span<const std::uint8_t, 32>, SecretArray<32>>);
static_assert(std::is_nothrow_move_constructible_v<SecretArray<32>>);
static_assert(std::is_nothrow_move_constructible_v<SecretBytes>);
// No `==` that would compare secret bytes in variable time.
static_assert(!std::equality_comparable<SecretArray<32>>);
static_assert(!std::equality_comparable<SecretBytes>);

bool all_zero(std::span<const std::uint8_t> s) {
  return std::all_of(s.begin(), s.end(), [](std::uint8_t b) { return b == 0; });
}

SecretArray<4> sample() {
  const std::uint8_t b[4] = {1, 2, 3, 4};
  return SecretArray<4>(std::span<const std::uint8_t, 4>(b));
}

TEST(SecretArray, MoveLeavesOneCopy) {
  SecretArray<4> a = sample();
  SecretArray<4> b(std::move(a));
  EXPECT_TRUE(all_zero(a.span()));  // NOLINT: the moved-from state is what is being checked
  EXPECT_EQ(b.span()[3], 4);

  SecretArray<4> c;
  c = std::move(b);
  EXPECT_TRUE(all_zero(b.span()));  // NOLINT
  EXPECT_EQ(c.span()[0], 1);

  c = std::move(c);  // self-move keeps the bytes
  EXPECT_EQ(c.span()[0], 1);
}

TEST(SecretArray, CloneIsIndependentAndDefaultIsZero) {
  SecretArray<4> a = sample();
  SecretArray<4> b = a.clone();
  a.wipe();
  EXPECT_TRUE(all_zero(a.span()));
  EXPECT_EQ(b.span()[2], 3);
  EXPECT_TRUE(all_zero(SecretArray<16>().span()));
}

TEST(SecretArray, DestructorWipes) {
  alignas(SecretArray<4>) unsigned char storage[sizeof(SecretArray<4>)];
  auto* s = new (storage) SecretArray<4>(sample());
  ASSERT_EQ(s->span()[0], 1);
  std::destroy_at(s);
  EXPECT_TRUE(all_zero(std::span<const std::uint8_t>(storage, sizeof storage)));
}

TEST(SecretBytes, FixedLengthAndMoves) {
  const std::uint8_t b[3] = {7, 8, 9};
  SecretBytes a = SecretBytes::copy_of(b);
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a.span()[1], 8);

  SecretBytes moved(std::move(a));
  EXPECT_TRUE(a.empty());  // NOLINT: the moved-from state is what is being checked
  EXPECT_EQ(a.data(), nullptr);
  EXPECT_EQ(moved.span()[2], 9);

  SecretBytes target(10);
  EXPECT_TRUE(all_zero(target.span()));
  target = std::move(moved);
  EXPECT_EQ(target.size(), 3u);
  EXPECT_TRUE(moved.empty());  // NOLINT

  SecretBytes copy = target.clone();
  target.span()[0] = 0;
  EXPECT_EQ(copy.span()[0], 7);
}

TEST(SecretBytes, EmptyBuffers) {
  EXPECT_TRUE(SecretBytes().empty());
  EXPECT_TRUE(SecretBytes(0).empty());
  EXPECT_TRUE(SecretBytes::copy_of({}).empty());
  EXPECT_TRUE(SecretBytes().clone().empty());
}

TEST(SecretBytes, ConstantTimeEqualCompares) {
  const std::vector<std::uint8_t> abc = {1, 2, 3};
  struct Case {
    const char* name;
    std::vector<std::uint8_t> other;
    bool want;
  };
  const Case cases[] = {
      {"same bytes", {1, 2, 3}, true},
      {"last byte differs", {1, 2, 4}, false},
      {"first byte differs", {0, 2, 3}, false},
      {"prefix", {1, 2}, false},
      {"longer", {1, 2, 3, 0}, false},
      {"empty", {}, false},
  };
  const SecretBytes secret = SecretBytes::copy_of(abc);
  for (const Case& c : cases) {
    EXPECT_EQ(constant_time_equal(secret.span(), c.other), c.want) << c.name;
    EXPECT_EQ(constant_time_equal(c.other, secret.span()), c.want) << c.name;
  }
  EXPECT_TRUE(constant_time_equal(SecretBytes().span(), SecretBytes::copy_of({}).span()));
}

}  // namespace
}  // namespace ostrel::platform
