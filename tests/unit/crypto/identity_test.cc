// Identities from a master seed: known answers computed by independent implementations, the
// seed length rule, signing, the user-id check, and the HPKE pair working end to end.
#include <gtest/gtest.h>

#include <vector>

#include "crypto/hpke.h"
#include "crypto/identity.h"
#include "support/core_dump.h"
#include "support/hex.h"
#include "unit/crypto/secret_hex.h"

namespace ostrel::crypto {
namespace {

using testing::bytes_of;
using testing::from_hex;
using testing::secret_hex;
using testing::to_hex;

std::vector<std::uint8_t> counting_seed() {
  std::vector<std::uint8_t> seed(32);
  for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i);
  return seed;
}

TEST(Identity, KnownAnswers) {
  auto id = Identity::from_seed(counting_seed());
  ASSERT_TRUE(id) << id.error().message();
  EXPECT_EQ(to_hex(id->signing_public_key), "5f101dae256a0a5a294ecc1121ee608ea7c1b129e48bf55018f040700aa654f4");
  EXPECT_EQ(to_hex(id->hpke_public_key), "e0a5a472d7c3f69244126d41ec7030083f104323c7775636e8ec2d23076ea655");
  EXPECT_EQ(to_hex(id->user_id.value.bytes), "3acbd8732cf2cf6b9410ccee479a8a8d2f15e12df71c356bbe615c7d1819fef1");
  // The fields agree with the keys they were taken from, and the seed copy is the seed.
  EXPECT_EQ(id->keys.signing_key.public_key(), id->signing_public_key);
  EXPECT_EQ(id->keys.hpke_public_key, id->hpke_public_key);
  EXPECT_EQ(secret_hex(id->master_seed), to_hex(counting_seed()));

  auto zero = Identity::from_seed(std::vector<std::uint8_t>(32, 0));
  ASSERT_TRUE(zero) << zero.error().message();
  EXPECT_EQ(to_hex(zero->user_id.value.bytes), "bdc2b9edc5b7316d43b20a6fe5e21a3e8bcc86daffb3860777b00a9ce144cfe8");
}

TEST(Identity, SameSeedSameIdentity) {
  auto a = Identity::from_seed(counting_seed());
  auto b = Identity::from_seed(counting_seed());
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->user_id, b->user_id);
  EXPECT_EQ(a->signing_public_key, b->signing_public_key);
  EXPECT_EQ(a->hpke_public_key, b->hpke_public_key);
  EXPECT_EQ(secret_hex(a->keys.hpke_private_key), secret_hex(b->keys.hpke_private_key));
  const Identity c = a->clone();
  EXPECT_EQ(c.user_id, a->user_id);
  EXPECT_EQ(secret_hex(c.master_seed), secret_hex(a->master_seed));
}

TEST(Identity, SeedMustBe32Bytes) {
  for (std::size_t n : {0u, 31u, 33u, 64u}) {
    SCOPED_TRACE(n);
    const std::vector<std::uint8_t> seed(n, 7);
    auto keys = derive_identity_keys(seed);
    ASSERT_FALSE(keys);
    EXPECT_EQ(keys.error(), CryptoError::invalid_length("identity master seed", 32, n));
    auto id = Identity::from_seed(seed);
    ASSERT_FALSE(id);
    EXPECT_EQ(id.error(), keys.error());
  }
  EXPECT_EQ(Identity::from_seed(std::vector<std::uint8_t>(31)).error().message(),
            "invalid byte length for identity master seed: expected 32, got 31");
}

TEST(Identity, SignsForItsOwnKey) {
  auto id = Identity::from_seed(counting_seed());
  ASSERT_TRUE(id);
  const auto message = bytes_of("cache payload");
  const auto sig = id->sign(kVerificationCachePurpose, message);
  EXPECT_EQ(sig, sign(id->keys.signing_key, kVerificationCachePurpose, message));
  EXPECT_TRUE(verify_signature(kVerificationCachePurpose, id->signing_public_key, message, sig));
  auto other = Identity::from_seed(std::vector<std::uint8_t>(32, 0));
  ASSERT_TRUE(other);
  EXPECT_FALSE(verify_signature(kVerificationCachePurpose, other->signing_public_key, message, sig));
}

TEST(Identity, HpkeKeysPairUp) {
  auto id = Identity::from_seed(counting_seed());
  ASSERT_TRUE(id);
  auto sealed = hpke::seal(id->hpke_public_key, bytes_of("info"), bytes_of("aad"), bytes_of("content key"));
  ASSERT_TRUE(sealed);
  auto opened = hpke::open(sealed->encapsulated_key, id->keys.hpke_private_key, bytes_of("info"),
                           bytes_of("aad"), sealed->ciphertext);
  ASSERT_TRUE(opened) << opened.error().message();
  EXPECT_EQ(to_hex(opened->span()), to_hex(bytes_of("content key")));
}

// A core dump of a process with an unlocked identity must not hold its seed or private keys:
// they lie in pages the kernel leaves out of dumps, also after the identity moved (as it does
// into a session) and in a clone.
TEST(Identity, SecretsAreLeftOutOfCoreDumps) {
  auto id = Identity::from_seed(counting_seed());
  ASSERT_TRUE(id);
  Identity moved = std::move(*id);
  const Identity copy = moved.clone();
  for (const Identity* identity : {static_cast<const Identity*>(&moved), &copy}) {
    EXPECT_TRUE(testing::left_out_of_core_dumps(identity->master_seed.data(), kMasterSeedBytes));
    EXPECT_TRUE(testing::left_out_of_core_dumps(identity->keys.hpke_private_key.data(), 32));
  }
}

TEST(CheckUserId, ThreeOutcomes) {
  auto id = Identity::from_seed(counting_seed());
  ASSERT_TRUE(id);
  const UserId original = id->user_id;

  const UserIdCheck ok = id->check_user_id();
  ASSERT_EQ(ok.outcome(), UserIdCheck::Ok);
  EXPECT_EQ(ok.user_id(), original);

  // A stored id that is not the keys' id: the mismatch names the stored one first.
  const UserId replaced(HashValue(std::vector<std::uint8_t>(32, 0xaa)));
  id->user_id = replaced;
  const UserIdCheck mismatch = id->check_user_id();
  ASSERT_EQ(mismatch.outcome(), UserIdCheck::Mismatch);
  EXPECT_EQ(mismatch.mismatch(), (UserIdMismatch{replaced, original}));

  // A key swapped for another identity's key gives a different recomputed id.
  id->user_id = original;
  auto other = Identity::from_seed(std::vector<std::uint8_t>(32, 0));
  ASSERT_TRUE(other);
  id->hpke_public_key = other->hpke_public_key;
  const UserIdCheck swapped = id->check_user_id();
  ASSERT_EQ(swapped.outcome(), UserIdCheck::Mismatch);
  EXPECT_EQ(swapped.mismatch().stored, original);
  EXPECT_NE(swapped.mismatch().recomputed, original);
}

TEST(CheckUserId, ErrorOutcomeCarriesTheCoreError) {
  const UserIdCheck failed(CoreError::validation("x"));
  ASSERT_EQ(failed.outcome(), UserIdCheck::Error);
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.error(), CoreError::validation("x"));
}

}  // namespace
}  // namespace ostrel::crypto
