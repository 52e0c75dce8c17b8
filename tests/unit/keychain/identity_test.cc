// The user id a master seed names, and how a seed the derivation refuses is reported.
#include <gtest/gtest.h>

#include <vector>

#include "keychain/identity.h"
#include "support/hex.h"
#include "support/identities.h"

namespace ostrel::keychain {
namespace {

TEST(UserIdFromSeed, NamesTheUserOfTheUnlockedIdentity) {
  const auto seed = testing::counting_seed();
  auto got = user_id_from_seed(seed);
  ASSERT_TRUE(got) << got.error().message();
  EXPECT_EQ(got->user_id, testing::identity_from_seed(seed).user_id);
  // Known answer of the counting seed, as the crypto layer's own tests pin it.
  EXPECT_EQ(testing::to_hex(got->user_id.value.bytes),
            "3acbd8732cf2cf6b9410ccee479a8a8d2f15e12df71c356bbe615c7d1819fef1");
  EXPECT_TRUE(std::equal(got->seed.span().begin(), got->seed.span().end(), seed.begin()));
}

TEST(UserIdFromSeed, SeedOfAnotherLengthIsACryptoError) {
  for (std::size_t length : {0u, 16u, 31u, 33u}) {
    const std::vector<std::uint8_t> seed(length, 7);
    auto got = user_id_from_seed(seed);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().kind(), KeychainError::Crypto);
    EXPECT_EQ(got.error().message(), "crypto error: invalid byte length for identity master seed: expected 32, got " +
                                         std::to_string(length));
  }
}

}  // namespace
}  // namespace ostrel::keychain
