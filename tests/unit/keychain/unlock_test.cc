// Opening sealed identities: the Argon2id call against the standard's vector, every parameter
// bound judged before any derivation runs, the checks that come before it, and the failures
// that all look alike to a caller.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keychain/identity.h"
#include "keychain/unlock_internal.h"
#include "support/hex.h"
#include "support/identities.h"
#include "support/keychain.h"
#include "support/secret_text.h"

namespace ostrel::keychain {
namespace {

using testing::from_hex;
using testing::to_hex;

const std::vector<std::uint8_t> kRoot(32, 0x11);
const std::vector<std::uint8_t> kUser(32, 0x22);

std::span<const std::uint8_t> text_bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Counts the derivations that reach the computation, and returns a key of zeros.
int g_runs = 0;
KeychainResult<DerivedKey> counting_runner(const Argon2idInput&) {
  ++g_runs;
  return DerivedKey();
}

TEST(Argon2id, Rfc9106Vector) {
  // RFC 9106, section 5.3: Argon2id, version 0x13, 32 KiB, 3 passes, 4 lanes, with a secret and
  // associated data, through the call every unlock makes.
  const std::vector<std::uint8_t> password(32, 0x01), salt(16, 0x02), secret(8, 0x03), ad(12, 0x04);
  auto tag = argon2id({.password = password, .salt = salt, .secret = secret, .associated_data = ad,
                       .memory_kib = 32, .passes = 3, .lanes = 4});
  ASSERT_TRUE(tag) << tag.error().message();
  EXPECT_EQ(to_hex(tag->span()), "0d640df58d78766c08c037a34a8b53c9d01ef0452d75b65eb52520e96b01e659");
}

TEST(Argon2id, LibraryRefusalIsItsOwnText) {
  const std::vector<std::uint8_t> salt(16, 2);
  auto got = argon2id({.salt = salt, .memory_kib = 8192, .passes = 0, .lanes = 1});
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind(), KeychainError::Argon2);
  EXPECT_EQ(got.error().message(), "Argon2 operation failed: Time cost is too small");
}

TEST(DeriveKey, EveryBoundIsJudgedBeforeAnyDerivation) {
  struct Case {
    const char* name;
    KdfParamsV1 params;
    std::size_t salt_bytes;
    bool accepted;
  };
  const auto params = [](std::string algorithm, std::uint32_t m, std::uint32_t t, std::uint32_t p) {
    return KdfParamsV1{std::move(algorithm), m, t, p};
  };
  const std::vector<Case> cases{
      {"memory below 8 MiB", params("argon2id-v1.3", 8191, 1, 1), 16, false},
      {"memory above 256 MiB", params("argon2id-v1.3", 262145, 1, 1), 16, false},
      {"memory wrapped around", params("argon2id-v1.3", 0xffffffff, 1, 1), 16, false},
      {"no pass", params("argon2id-v1.3", 8192, 0, 1), 16, false},
      {"eleven passes", params("argon2id-v1.3", 8192, 11, 1), 16, false},
      {"no lane", params("argon2id-v1.3", 8192, 1, 0), 16, false},
      {"nine lanes", params("argon2id-v1.3", 8192, 1, 9), 16, false},
      {"15-byte salt", params("argon2id-v1.3", 8192, 1, 1), 15, false},
      {"17-byte salt", params("argon2id-v1.3", 8192, 1, 1), 17, false},
      {"algorithm in capitals", params("Argon2id-v1.3", 8192, 1, 1), 16, false},
      {"algorithm with a blank", params("argon2id-v1.3 ", 8192, 1, 1), 16, false},
      {"bare algorithm name", params("argon2id", 8192, 1, 1), 16, false},
      {"lowest accepted", params("argon2id-v1.3", 8192, 1, 1), 16, true},
      {"highest accepted", params("argon2id-v1.3", 262144, 10, 8), 16, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_runs = 0;
    const std::vector<std::uint8_t> salt(c.salt_bytes, 9);
    auto got = derive_key(text_bytes("pw"), salt, c.params, counting_runner);
    EXPECT_EQ(got.has_value(), c.accepted);
    EXPECT_EQ(g_runs, c.accepted ? 1 : 0);
    if (!c.accepted) {
      EXPECT_EQ(got.error().message(), "invalid passphrase keychain parameters");
    }
  }
}

struct Sealed {
  std::vector<std::uint8_t> seed;
  SealedIdentityV1 identity;
};

Sealed sealed_counting_seed(std::string_view passphrase, std::uint32_t lanes = 1) {
  const auto seed = testing::counting_seed();
  std::vector<std::uint8_t> s(seed.begin(), seed.end());
  return {s, testing::seal_identity(s, kRoot, kUser, passphrase, testing::cheap_kdf(lanes))};
}

TEST(Unlock, RightPassphraseGivesTheSeedAndItsIdentity) {
  for (std::uint32_t lanes : {1u, 8u}) {
    SCOPED_TRACE(lanes);
    const Sealed sealed = sealed_counting_seed("correct horse", lanes);
    auto local = unlock(text_bytes("correct horse"), kRoot, kUser, sealed.identity);
    ASSERT_TRUE(local) << local.error().message();
    EXPECT_EQ(to_hex(local->seed.span()), to_hex(sealed.seed));
    auto identity = identity_from_local(*local);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->user_id, user_id_from_seed(sealed.seed)->user_id);
  }
}

TEST(Unlock, EmptyPassphraseIsAnEmptyPassword) {
  const Sealed sealed = sealed_counting_seed("");
  EXPECT_TRUE(unlock({}, kRoot, kUser, sealed.identity));
  EXPECT_EQ(unlock(text_bytes(" "), kRoot, kUser, sealed.identity).error().kind(), KeychainError::UnlockFailed);
}

TEST(Unlock, AnyChangeSinceSealingLooksTheSame) {
  const Sealed sealed = sealed_counting_seed("pw");
  struct Case {
    const char* name;
    void (*change)(SealedIdentityV1&);
    std::string passphrase = "pw";
  };
  const std::vector<Case> cases{
      {"passphrase", [](SealedIdentityV1&) {}, "pX"},
      {"salt", [](SealedIdentityV1& s) { s.salt[3] ^= 1; }},
      {"nonce", [](SealedIdentityV1& s) { s.nonce[0] ^= 1; }},
      {"ciphertext", [](SealedIdentityV1& s) { s.ciphertext[5] ^= 1; }},
      {"tag", [](SealedIdentityV1& s) { s.ciphertext.back() ^= 1; }},
      {"passes within range", [](SealedIdentityV1& s) { s.kdf.t = 2; }},
      {"ciphertext shorter than a tag", [](SealedIdentityV1& s) { s.ciphertext.resize(15); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SealedIdentityV1 changed = sealed.identity;
    c.change(changed);
    auto got = unlock(text_bytes(c.passphrase), kRoot, kUser, changed);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().message(), "identity keychain unlock failed");
  }
}

TEST(Unlock, ConsistencyComesFirst) {
  const Sealed sealed = sealed_counting_seed("pw");
  struct Case {
    const char* name;
    void (*change)(SealedIdentityV1&);
  };
  const std::vector<Case> cases{
      {"24-byte nonce and bad parameters", [](SealedIdentityV1& s) { s.nonce.resize(24); s.kdf.m = 1; }},
      {"another root", [](SealedIdentityV1& s) { s.root[0] ^= 1; }},
      {"another user", [](SealedIdentityV1& s) { s.user.pop_back(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SealedIdentityV1 changed = sealed.identity;
    c.change(changed);
    g_runs = 0;
    auto got = unlock(text_bytes("pw"), kRoot, kUser, changed, counting_runner);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().kind(), KeychainError::InconsistentIdentity);
    EXPECT_EQ(got.error().user_id(), UserId(HashValue(kUser)));
    EXPECT_EQ(g_runs, 0);
  }
}

TEST(Unlock, ParametersAreJudgedBeforeTheDerivation) {
  SealedIdentityV1 sealed = sealed_counting_seed("pw").identity;
  sealed.kdf.p = 9;
  g_runs = 0;
  auto got = unlock(text_bytes("pw"), kRoot, kUser, sealed, counting_runner);
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind(), KeychainError::InvalidKdfParams);
  EXPECT_EQ(g_runs, 0);
}

TEST(Unlock, PlaintextMustBeOneLocalIdentity) {
  std::vector<std::uint8_t> plaintext = from_hex("00000020" + std::string(64, 'a') + "00");
  auto trailing = unlock(text_bytes("pw"), kRoot, kUser,
                         testing::seal_plaintext(plaintext, kRoot, kUser, "pw", testing::cheap_kdf()));
  ASSERT_FALSE(trailing);
  EXPECT_EQ(trailing.error().message(), "Cord error: Trailing bytes after deserialization");

  const std::vector<std::uint8_t> short_seed(16, 7);
  auto local = unlock(text_bytes("pw"), kRoot, kUser,
                      testing::seal_identity(short_seed, kRoot, kUser, "pw", testing::cheap_kdf()));
  ASSERT_TRUE(local);
  auto identity = identity_from_local(*local);
  ASSERT_FALSE(identity);
  EXPECT_EQ(identity.error().message(),
            "crypto error: invalid byte length for identity master seed: expected 32, got 16");
}

}  // namespace
}  // namespace ostrel::keychain
