// Ed25519 under the system's framing: RFC 8032 vectors through libsodium, the framing bytes, and
// the strict refusals (non-reduced S, small-order key and R, bad lengths, other purposes).
#include <gtest/gtest.h>

#include <sodium.h>

#include <string>
#include <vector>

#include "crypto/signing.h"
#include "support/hex.h"
#include "unit/crypto/secret_hex.h"

namespace ostrel::crypto {
namespace {

using testing::bytes_of;
using testing::from_hex;
using testing::secret_from_hex;
using testing::to_hex;

struct Rfc8032Case {
  const char* secret;
  const char* public_key;
  const char* message;
  const char* signature;
};
// RFC 8032 section 7.1, tests 1 to 3.
const Rfc8032Case kRfc8032[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
};

TEST(Ed25519, Rfc8032RawThroughLibsodium) {
  for (const auto& c : kRfc8032) {
    SCOPED_TRACE(c.public_key);
    const auto seed = from_hex(c.secret);
    const auto message = from_hex(c.message);
    std::vector<std::uint8_t> pk(32), sk(64), sig(64);
    ASSERT_EQ(crypto_sign_seed_keypair(pk.data(), sk.data(), seed.data()), 0);
    EXPECT_EQ(to_hex(pk), c.public_key);
    crypto_sign_detached(sig.data(), nullptr, message.data(), message.size(), sk.data());
    EXPECT_EQ(to_hex(sig), c.signature);
    EXPECT_EQ(crypto_sign_verify_detached(sig.data(), message.data(), message.size(), pk.data()), 0);
    // Our key type derives the same public key from the same private key.
    EXPECT_EQ(to_hex(SigningKey::from_seed(secret_from_hex<32>(c.secret)).public_key()), c.public_key);
  }
}

TEST(SignatureMessage, Framing) {
  const auto empty = signature_message("", {});
  EXPECT_EQ(empty.size(), 43u);
  EXPECT_EQ(to_hex(empty),
            "0000000000000013" + to_hex(bytes_of("ostrel.signature.v1")) + "00000000000000000000000000000000");
  EXPECT_EQ(to_hex(signature_message("ostrel.signed.v1", from_hex("abcd"))),
            "0000000000000013" + to_hex(bytes_of("ostrel.signature.v1")) + "0000000000000010" +
                to_hex(bytes_of("ostrel.signed.v1")) + "0000000000000002abcd");
}

// Our sign is pure Ed25519 over the framed bytes, so it equals libsodium's signature of them.
TEST(Sign, IsEd25519OfTheFramedMessage) {
  const auto& c = kRfc8032[1];
  const SigningKey key = SigningKey::from_seed(secret_from_hex<32>(c.secret));
  const auto message = from_hex("0102030405");
  const auto sig = sign(key, kSignedRecordPurpose, message);
  ASSERT_EQ(sig.size(), kSignatureBytes);

  std::vector<std::uint8_t> pk(32), sk(64), want(64);
  crypto_sign_seed_keypair(pk.data(), sk.data(), from_hex(c.secret).data());
  const auto framed = signature_message(kSignedRecordPurpose, message);
  crypto_sign_detached(want.data(), nullptr, framed.data(), framed.size(), sk.data());
  EXPECT_EQ(sig, want);
  EXPECT_TRUE(verify_signature(kSignedRecordPurpose, key.public_key(), message, sig));
  // Deterministic: a clone of the key signs the same bytes identically.
  EXPECT_EQ(sign(key.clone(), kSignedRecordPurpose, message), sig);
  // The raw RFC signature of the same bytes, unframed, is not a framed signature.
  EXPECT_FALSE(verify_signature("", from_hex(c.public_key), from_hex(c.message), from_hex(c.signature)));
}

TEST(Verify, PurposesDoNotCrossVerify) {
  const SigningKey key = SigningKey::from_seed(secret_from_hex<32>(kRfc8032[0].secret));
  const auto message = bytes_of("payload");
  const auto as_record = sign(key, kSignedRecordPurpose, message);
  const auto as_cache = sign(key, kVerificationCachePurpose, message);
  EXPECT_TRUE(verify_signature(kSignedRecordPurpose, key.public_key(), message, as_record));
  EXPECT_TRUE(verify_signature(kVerificationCachePurpose, key.public_key(), message, as_cache));
  EXPECT_FALSE(verify_signature(kVerificationCachePurpose, key.public_key(), message, as_record));
  EXPECT_FALSE(verify_signature(kSignedRecordPurpose, key.public_key(), message, as_cache));
}

// Little-endian 256-bit sum of S and the group order L.
std::vector<std::uint8_t> add_group_order(std::span<const std::uint8_t> s) {
  const auto l = from_hex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
  std::vector<std::uint8_t> out(32);
  unsigned carry = 0;
  for (std::size_t i = 0; i < 32; ++i) {
    const unsigned sum = s[i] + l[i] + carry;
    out[i] = static_cast<std::uint8_t>(sum);
    carry = sum >> 8;
  }
  return out;
}

std::vector<std::uint8_t> reduce_scalar(std::span<const std::uint8_t> s32) {
  std::vector<std::uint8_t> wide(64, 0), out(32);
  std::copy(s32.begin(), s32.end(), wide.begin());
  crypto_core_ed25519_scalar_reduce(out.data(), wide.data());
  return out;
}

// A signature with the identity point as R that still satisfies [S]B = R + [h]A, by taking
// S = h·a from the private scalar a. Only the small-order check on R refuses it.
std::vector<std::uint8_t> signature_with_identity_r(std::span<const std::uint8_t> seed,
                                                    std::span<const std::uint8_t> pk,
                                                    std::span<const std::uint8_t> framed) {
  std::vector<std::uint8_t> r(32, 0);
  r[0] = 1;
  std::vector<std::uint8_t> digest(64), h(32), az(64), s(32);
  crypto_hash_sha512_state st;
  crypto_hash_sha512_init(&st);
  crypto_hash_sha512_update(&st, r.data(), 32);
  crypto_hash_sha512_update(&st, pk.data(), 32);
  crypto_hash_sha512_update(&st, framed.data(), framed.size());
  crypto_hash_sha512_final(&st, digest.data());
  crypto_core_ed25519_scalar_reduce(h.data(), digest.data());
  crypto_hash_sha512(az.data(), seed.data(), 32);
  az[0] &= 248;
  az[31] &= 127;
  az[31] |= 64;
  const auto a = reduce_scalar(std::span(az).first(32));
  crypto_core_ed25519_scalar_mul(s.data(), h.data(), a.data());
  r.insert(r.end(), s.begin(), s.end());
  return r;
}

TEST(Verify, StrictRefusals) {
  const auto& c = kRfc8032[2];
  const auto seed = from_hex(c.secret);
  const SigningKey key = SigningKey::from_seed(secret_from_hex<32>(c.secret));
  const std::vector<std::uint8_t> pk(key.public_key().begin(), key.public_key().end());
  const auto message = bytes_of("a record body");
  const auto sig = sign(key, kSignedRecordPurpose, message);
  ASSERT_TRUE(verify_signature(kSignedRecordPurpose, pk, message, sig));

  // S + L: the same scalar modulo L, so only the reduced-S rule refuses it.
  auto s_plus_l = sig;
  const auto big_s = add_group_order(std::span(sig).subspan(32));
  std::copy(big_s.begin(), big_s.end(), s_plus_l.begin() + 32);
  ASSERT_EQ(reduce_scalar(big_s), std::vector<std::uint8_t>(sig.begin() + 32, sig.end()));

  // R = identity with S = h·a: satisfies the equation, so only the small-order rule on R refuses it.
  const auto framed = signature_message(kSignedRecordPurpose, message);
  const auto identity_r = signature_with_identity_r(seed, pk, framed);
  {
    std::vector<std::uint8_t> sb(32), ha(32), h(32), digest(64);
    ASSERT_EQ(crypto_scalarmult_ed25519_base_noclamp(sb.data(), identity_r.data() + 32), 0);
    crypto_hash_sha512_state st;
    crypto_hash_sha512_init(&st);
    crypto_hash_sha512_update(&st, identity_r.data(), 32);
    crypto_hash_sha512_update(&st, pk.data(), 32);
    crypto_hash_sha512_update(&st, framed.data(), framed.size());
    crypto_hash_sha512_final(&st, digest.data());
    crypto_core_ed25519_scalar_reduce(h.data(), digest.data());
    ASSERT_EQ(crypto_scalarmult_ed25519_noclamp(ha.data(), h.data(), pk.data()), 0);
    ASSERT_EQ(sb, ha);
  }

  // Identity point as key with R = B and S = 1: [1]B = B + [h]O holds for every message, so only
  // the small-order rule on the key refuses it.
  const auto identity_key = from_hex("0100000000000000000000000000000000000000000000000000000000000000");
  const auto base_point_s1 = from_hex(
      "5866666666666666666666666666666666666666666666666666666666666666"
      "0100000000000000000000000000000000000000000000000000000000000000");

  auto flip = [](std::vector<std::uint8_t> v, std::size_t i) {
    v[i] ^= 0x01;
    return v;
  };
  std::vector<std::uint8_t> message_flipped = message;
  message_flipped[0] ^= 0x80;

  struct Case {
    const char* name;
    std::vector<std::uint8_t> pk, message, sig;
  };
  const Case cases[] = {
      {"S plus group order", pk, message, s_plus_l},
      {"small-order R", pk, message, identity_r},
      {"small-order public key", identity_key, message, base_point_s1},
      {"flipped bit in R", pk, message, flip(sig, 3)},
      {"flipped bit in S", pk, message, flip(sig, 40)},
      {"flipped bit in message", pk, message_flipped, sig},
      {"flipped bit in key", flip(pk, 0), message, sig},
      {"key is not a curve point (y = 2)",
       from_hex("0200000000000000000000000000000000000000000000000000000000000000"), message, sig},
      // A valid point (y = 3) written with y + p: only hand-made keys look like this.
      {"key with unreduced y", from_hex("f0ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"),
       message, sig},
      {"31-byte key", std::vector<std::uint8_t>(pk.begin(), pk.end() - 1), message, sig},
      {"33-byte key", [&] { auto k = pk; k.push_back(0); return k; }(), message, sig},
      {"63-byte signature", pk, message, std::vector<std::uint8_t>(sig.begin(), sig.end() - 1)},
      {"65-byte signature", pk, message, [&] { auto s = sig; s.push_back(0); return s; }()},
      {"empty signature", pk, message, {}},
  };
  for (const Case& k : cases) {
    EXPECT_FALSE(verify_signature(kSignedRecordPurpose, k.pk, k.message, k.sig)) << k.name;
  }
}

}  // namespace
}  // namespace ostrel::crypto
