// HPKE base mode, single shot: RFC 9180 A.2.1 (DHKEM(X25519, HKDF-SHA256), HKDF-SHA256,
// ChaCha20Poly1305) step by step, then the refusals.
#include <gtest/gtest.h>

#include <sodium.h>

#include <string>
#include <vector>

#include "crypto/hkdf.h"
#include "crypto/hpke_internal.h"
#include "support/hex.h"
#include "unit/crypto/secret_hex.h"

namespace ostrel::crypto::hpke {
namespace {

using testing::bytes_of;
using testing::from_hex;
using testing::secret_from_hex;
using testing::secret_hex;
using testing::to_hex;

// RFC 9180 A.2.1, encryption sequence number 0.
constexpr const char* kInfo = "4f6465206f6e2061204772656369616e2055726e";
constexpr const char* kIkmE = "909a9b35d3dc4713a5e72a4da274b55d3d3821a37e5d099e74a647db583a904b";
constexpr const char* kPkEm = "1afa08d3dec047a643885163f1180476fa7ddb54c6a8029ea33f95796bf2ac4a";
constexpr const char* kPkRm = "4310ee97d88cc1f088a5576c77ab0cf5c3ac797f3d95139c6c84b5429c59662a";
constexpr const char* kSkRm = "8057991eef8f1f1af18f4a9491d16a1ce333f695d4db8e38da75975c4478e0fb";
constexpr const char* kSharedSecret = "0bbe78490412b4bbea4812666f7916932b828bba79942424abb65244930d69a7";
constexpr const char* kKeyScheduleContext =
    "00431df6cd95e11ff49d7013563baf7f11588c75a6611ee2a4404a49306ae4cfc5"
    "b69c5718a60cc5876c358d3f7fc31ddb598503f67be58ea1e798c0bb19eb9796";
constexpr const char* kKey = "ad2744de8e17f4ebba575b3f5f5a8fa1f69c2a07f6e7500bc60ca6e3e3ec1c91";
constexpr const char* kBaseNonce = "5c4d98150661b848853b547f";
constexpr const char* kAad = "436f756e742d30";
constexpr const char* kPt = "4265617574792069732074727574682c20747275746820626561757479";
constexpr const char* kCt =
    "1c5250d8034ec2b784ba2cfd69dbdb8af406cfe3ff938e131f0def8c8b60b4db21993c62ce81883d2dd1b51a28";

std::array<std::uint8_t, 32> array32(const char* hex) {
  const auto v = from_hex(hex);
  std::array<std::uint8_t, 32> a{};
  std::copy(v.begin(), v.end(), a.begin());
  return a;
}

TEST(HpkeRfc9180, EncapAndDecapAgreeOnTheSharedSecret) {
  const auto pk_r = array32(kPkRm);
  auto e = encap(pk_r, secret_from_hex<32>(kIkmE));
  ASSERT_TRUE(e) << e.error().message();
  EXPECT_EQ(to_hex(e->encapsulated_key), kPkEm);
  EXPECT_EQ(secret_hex(e->shared_secret), kSharedSecret);

  auto d = decap(array32(kPkEm), secret_from_hex<32>(kSkRm));
  ASSERT_TRUE(d) << d.error().message();
  EXPECT_EQ(secret_hex(*d), kSharedSecret);
}

TEST(HpkeRfc9180, KeySchedule) {
  const auto info = from_hex(kInfo);
  EXPECT_EQ(to_hex(key_schedule_context(info)), kKeyScheduleContext);
  const KeySchedule ks = key_schedule(secret_from_hex<32>(kSharedSecret), info);
  EXPECT_EQ(secret_hex(ks.key), kKey);
  EXPECT_EQ(secret_hex(ks.base_nonce), kBaseNonce);
}

TEST(HpkeRfc9180, SealWithTheGivenEphemeralAndOpen) {
  auto sealed = seal_with_ephemeral_ikm(from_hex(kPkRm), secret_from_hex<32>(kIkmE), from_hex(kInfo),
                                        from_hex(kAad), from_hex(kPt));
  ASSERT_TRUE(sealed) << sealed.error().message();
  EXPECT_EQ(to_hex(sealed->encapsulated_key), kPkEm);
  EXPECT_EQ(to_hex(sealed->ciphertext), kCt);

  auto opened = open(from_hex(kPkEm), secret_from_hex<32>(kSkRm), from_hex(kInfo), from_hex(kAad), from_hex(kCt));
  ASSERT_TRUE(opened) << opened.error().message();
  EXPECT_EQ(secret_hex(*opened), kPt);
}

// X25519 itself, RFC 7748 section 6.1, as libsodium computes it for the KEM.
TEST(X25519, Rfc7748) {
  const auto alice_sk = from_hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
  const auto bob_sk = from_hex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
  const auto alice_pk = from_hex("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
  const auto bob_pk = from_hex("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
  const char* shared = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";
  std::vector<std::uint8_t> out(32);
  ASSERT_EQ(crypto_scalarmult_curve25519_base(out.data(), alice_sk.data()), 0);
  EXPECT_EQ(out, alice_pk);
  ASSERT_EQ(crypto_scalarmult_curve25519_base(out.data(), bob_sk.data()), 0);
  EXPECT_EQ(out, bob_pk);
  ASSERT_EQ(crypto_scalarmult_curve25519(out.data(), alice_sk.data(), bob_pk.data()), 0);
  EXPECT_EQ(to_hex(out), shared);
  ASSERT_EQ(crypto_scalarmult_curve25519(out.data(), bob_sk.data(), alice_pk.data()), 0);
  EXPECT_EQ(to_hex(out), shared);
}

// A recipient key pair made the way identities make theirs.
struct Recipient {
  X25519KeyPair pair = derive_x25519_key_pair(bytes_of("recipient keying material"));
};

TEST(Hpke, FreshEphemeralPerSealing) {
  const Recipient r;
  const auto content_key = from_hex("00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
  auto a = seal(r.pair.public_key, bytes_of("ctx"), bytes_of("ad"), content_key);
  auto b = seal(r.pair.public_key, bytes_of("ctx"), bytes_of("ad"), content_key);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->encapsulated_key.size(), kEncapsulatedKeyBytes);
  EXPECT_EQ(a->ciphertext.size(), content_key.size() + kTagBytes);
  EXPECT_NE(a->encapsulated_key, b->encapsulated_key);
  EXPECT_NE(a->ciphertext, b->ciphertext);
  for (const Sealed* s : {&*a, &*b}) {
    auto opened = open(s->encapsulated_key, r.pair.private_key, bytes_of("ctx"), bytes_of("ad"), s->ciphertext);
    ASSERT_TRUE(opened) << opened.error().message();
    EXPECT_EQ(to_hex(opened->span()), to_hex(content_key));
  }
}

TEST(Hpke, EmptyPlaintext) {
  const Recipient r;
  auto sealed = seal(r.pair.public_key, {}, {}, {});
  ASSERT_TRUE(sealed);
  EXPECT_EQ(sealed->ciphertext.size(), kTagBytes);
  auto opened = open(sealed->encapsulated_key, r.pair.private_key, {}, {}, sealed->ciphertext);
  ASSERT_TRUE(opened) << opened.error().message();
  EXPECT_TRUE(opened->empty());
}

// The binding sorts errors into exception classes by words in the text; HPKE texts must not
// contain any of those words.
void expect_plain_hpke_text(const CryptoError& e) {
  ASSERT_EQ(e.kind(), CryptoError::Hpke);
  for (const char* word : {"validation failed", "keychain", "identity", "ratchet state"}) {
    EXPECT_EQ(e.message().find(word), std::string::npos) << e.message();
  }
}

TEST(Hpke, OpenRefusesAnythingAltered) {
  const Recipient r;
  const Recipient other{derive_x25519_key_pair(bytes_of("someone else"))};
  const auto info = bytes_of("context");
  const auto aad = bytes_of("associated");
  auto sealed = seal(r.pair.public_key, info, aad, bytes_of("content key bytes"));
  ASSERT_TRUE(sealed);

  auto flip = [](std::vector<std::uint8_t> v, std::size_t i) {
    v[i] ^= 0x01;
    return v;
  };
  const auto& enc = sealed->encapsulated_key;
  const auto& ct = sealed->ciphertext;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> enc, info, aad, ct;
    const platform::SecretArray<32>* sk;
    const char* text;
  };
  const Case cases[] = {
      {"wrong private key", enc, info, aad, ct, &other.pair.private_key, "open failed"},
      {"other info", enc, bytes_of("contexT"), aad, ct, &r.pair.private_key, "open failed"},
      {"other aad", enc, info, bytes_of("associateD"), ct, &r.pair.private_key, "open failed"},
      {"empty aad", enc, info, {}, ct, &r.pair.private_key, "open failed"},
      {"flipped ciphertext byte", enc, info, aad, flip(ct, 0), &r.pair.private_key, "open failed"},
      {"flipped tag byte", enc, info, aad, flip(ct, ct.size() - 1), &r.pair.private_key, "open failed"},
      {"flipped encapsulated key", flip(enc, 5), info, aad, ct, &r.pair.private_key, "open failed"},
      {"ciphertext cut to 15 bytes", enc, info, aad, std::vector<std::uint8_t>(ct.begin(), ct.begin() + 15),
       &r.pair.private_key, "open failed"},
      {"ciphertext empty", enc, info, aad, {}, &r.pair.private_key, "open failed"},
      {"small-order encapsulated key", from_hex(std::string(64, '0')), info, aad, ct, &r.pair.private_key,
       "DH output is zero"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto opened = open(c.enc, *c.sk, c.info, c.aad, c.ct);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error(), CryptoError::hpke(c.text));
    expect_plain_hpke_text(opened.error());
  }
}

TEST(Hpke, LengthsOfKeysAreChecked) {
  const Recipient r;
  for (std::size_t n : {0u, 31u, 33u}) {
    SCOPED_TRACE(n);
    const std::vector<std::uint8_t> key(n, 9);
    auto sealed = seal(key, {}, {}, bytes_of("x"));
    ASSERT_FALSE(sealed);
    EXPECT_EQ(sealed.error(), CryptoError::InvalidHpkePublicKey);
    auto opened = open(key, r.pair.private_key, {}, {}, std::vector<std::uint8_t>(32));
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error(), CryptoError::InvalidHpkeEncapsulatedKey);
  }
}

// Points of small order on the curve: sealing to one would give a shared point of zero.
TEST(Hpke, SealRefusesSmallOrderRecipientKeys) {
  const char* keys[] = {
      "0000000000000000000000000000000000000000000000000000000000000000",  // u = 0
      "0100000000000000000000000000000000000000000000000000000000000000",  // u = 1
      "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800",  // order 8
      "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",  // u = p - 1
  };
  for (const char* k : keys) {
    SCOPED_TRACE(k);
    auto sealed = seal(from_hex(k), {}, {}, bytes_of("x"));
    ASSERT_FALSE(sealed);
    EXPECT_EQ(sealed.error(), CryptoError::hpke("DH output is zero"));
    expect_plain_hpke_text(sealed.error());
  }
}

}  // namespace
}  // namespace ostrel::crypto::hpke
