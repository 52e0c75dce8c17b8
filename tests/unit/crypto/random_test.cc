// Random draws: the right sizes, and fresh bytes on every draw.
#include <gtest/gtest.h>

#include "crypto/random.h"
#include "support/hex.h"
#include "unit/crypto/secret_hex.h"

namespace ostrel::crypto {
namespace {

using testing::secret_hex;
using testing::to_hex;

// Two equal 96-bit or 256-bit draws would mean the source is not random at all.
TEST(Random, ConsecutiveDrawsDiffer) {
  EXPECT_NE(secret_hex(random_key()), secret_hex(random_key()));
  EXPECT_NE(to_hex(random_nonce()), to_hex(random_nonce()));
  const auto a = random_key_vec();
  const auto b = random_key_vec();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_NE(a, b);
  EXPECT_NE(to_hex(a), std::string(64, '0'));
}

}  // namespace
}  // namespace ostrel::crypto
