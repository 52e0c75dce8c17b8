// Identifiers, the domain hash, key ids and handles, against independently computed vectors.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "cord/text.h"
#include "core/ids.h"
#include "crypto/domain_hash.h"
#include "crypto/identity.h"
#include "support/hex.h"

namespace ostrel {
namespace {

using testing::from_hex;
using testing::to_hex;

TEST(DomainHash, FramesDomainTagAndData) {
  EXPECT_EQ(to_hex(crypto::domain_hash("ostrel.key.v1", from_hex("000000 02abcd")).bytes),
            "e24de355ef4680dfeeaf18ae23211ff5120a506a7da08894b123ae58dba2eac7");
}

TEST(KeyId, OfThirtyTwoZeroBytes) {
  auto id = core::key_id(std::vector<std::uint8_t>(32, 0));
  ASSERT_TRUE(id);
  EXPECT_EQ(to_hex(id->bytes), "5c8d0a325d4d37eb6e0a00b2649b2c4d50cf97809d17e0317221f8d79996c34e");
}

// The key id of a known identity's signing key (the identity of the seed 00 01 … 1f).
TEST(KeyId, OfAKnownIdentity) {
  std::vector<std::uint8_t> seed(32);
  for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i);
  auto id = crypto::Identity::from_seed(seed);
  ASSERT_TRUE(id) << id.error().message();
  auto key_id = core::key_id(id->signing_public_key);
  ASSERT_TRUE(key_id);
  EXPECT_EQ(to_hex(key_id->bytes), "c875df8a1880b61bf636b8f58ae3a694542e52f6403978e867ba4b1cf83e418b");
}

TEST(HandleIds, NormalisedBeforeHashingAndSeparatedByPurpose) {
  auto padded = core::derive_user_handle_id("  Alice ");
  auto plain = core::derive_user_handle_id("alice");
  auto vault = core::derive_vault_handle_id("alice");
  ASSERT_TRUE(padded && plain && vault);
  EXPECT_EQ(to_hex(plain->value.bytes), "16f2d461c485ab986c8e5f9f369d4d804ed1242b1d9e49b57b14afefad40e70f");
  EXPECT_EQ(*padded, *plain);
  EXPECT_EQ(to_hex(vault->value.bytes), "1aa164f360aee7405ea78a026661cce172fcdd4019646b0c8aeb93cac5a0afda");
}

TEST(Handles, Normalisation) {
  struct Case {
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {"\xe2\x80\x83" "Bob\t", "bob"},                 // em space and tab trimmed
      {"\xc3\x84" "B", "\xc3\x84" "b"},                // non-ASCII capital kept
      {"  a b  ", "a b"},                              // inner space kept
      {"\xe3\x80\x80x\xc2\xa0", "x"},                  // ideographic space, no-break space
      {"\xc2\x85\xe2\x80\xa8Z\xe2\x80\xa9", "z"},      // NEL, line and paragraph separators
      {"\xe2\x80\x8b" "a", "\xe2\x80\x8b" "a"},        // zero-width space is not White_Space
      {"", ""},
      {" \t\n ", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(core::normalize_handle(c.in), c.want) << c.in;
}

TEST(Handles, LengthAboveThirtyTwoBitsIsNeverNarrowed) {
  // A caller's handle longer than 4 GiB: one space at each end, untouched zero pages between, so
  // only the first and last pages are ever backed. Narrowing the length to 32 bits would see a
  // three-byte handle and trim the wrong end.
  const std::size_t length = (std::size_t{1} << 32) + 3;
  void* region = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (region == MAP_FAILED) GTEST_SKIP() << "no 4 GiB of address space to map";
  char* bytes = static_cast<char*>(region);
  bytes[0] = ' ';
  bytes[length - 1] = ' ';
  const std::string_view handle(bytes, length);

  const std::string_view trimmed = cord::trim_white_space(handle);  // normalize_handle's trim
  EXPECT_EQ(trimmed.data(), bytes + 1);
  EXPECT_EQ(trimmed.size(), length - 2);
  EXPECT_FALSE(core::is_valid_handle(handle));
  ::munmap(region, length);
}

TEST(Handles, Validation) {
  struct Case {
    std::string handle;
    bool valid;
  };
  const Case cases[] = {
      {"a", true},           {std::string(64, 'z'), true}, {"a-b_c9", true}, {"0", true},
      {"", false},           {std::string(65, 'z'), false}, {"-ab", false},  {"ab_", false},
      {"Ab", false},         {"a b", false},                {"\xc3\xa4" "b", false},
      {"a.b", false},
  };
  for (const Case& c : cases) EXPECT_EQ(core::is_valid_handle(c.handle), c.valid) << c.handle;
}

TEST(HashValue, AnyLengthOrderAndDebugForm) {
  const HashValue short3(std::vector<std::uint8_t>{0, 17, 255});
  EXPECT_EQ(short3.debug(), "HashValue([0, 17, 255])");
  EXPECT_EQ(UserId(short3).debug(), "UserId(HashValue([0, 17, 255]))");
  EXPECT_EQ(HashValue().debug(), "HashValue([])");
  // A proper prefix sorts first; bytes compare unsigned.
  EXPECT_LT(HashValue(std::vector<std::uint8_t>{1, 2}), HashValue(std::vector<std::uint8_t>{1, 2, 0}));
  EXPECT_LT(HashValue(std::vector<std::uint8_t>{0x7f}), HashValue(std::vector<std::uint8_t>{0x80}));
  auto decoded = cord::from_slice<HashValue>(from_hex("00000003 0011ff"));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, short3);
  EXPECT_NE(*decoded, HashValue(std::vector<std::uint8_t>(32, 0)));
  EXPECT_EQ(std::hash<HashValue>()(short3), std::hash<HashValue>()(*decoded));
}

}  // namespace
}  // namespace ostrel
