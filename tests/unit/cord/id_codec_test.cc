// Identifiers through the wire format.
#include <gtest/gtest.h>

#include "cord/codec.h"
#include "ids/identifiers.h"
#include "support/hex.h"

namespace ostrel {
namespace {

using testing::from_hex;
using testing::to_hex;

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
