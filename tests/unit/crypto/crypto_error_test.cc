// The crypto layer's error values: every message, and how the payloads are carried.
#include <gtest/gtest.h>

#include "errors/crypto_error.h"

namespace ostrel {
namespace {

TEST(CryptoError, EveryMessage) {
  struct Case {
    CryptoError error;
    CryptoError::Kind kind;
    const char* message;
  };
  const Case cases[] = {
      {CryptoError(CoreError(cord::Error::UnexpectedEnd)), CryptoError::Core,
       "core error: cord error: Unexpected end of input"},
      {CryptoError(CoreError::validation("bad")), CryptoError::Core, "core error: validation failed: bad"},
      {CryptoError::invalid_length("identity master seed", 32, 31), CryptoError::InvalidLength,
       "invalid byte length for identity master seed: expected 32, got 31"},
      {CryptoError::invalid_length("content nonce", 12, 0), CryptoError::InvalidLength,
       "invalid byte length for content nonce: expected 12, got 0"},
      {CryptoError::InvalidEd25519PublicKey, CryptoError::InvalidEd25519PublicKey, "invalid Ed25519 public key"},
      {CryptoError::InvalidEd25519SecretKey, CryptoError::InvalidEd25519SecretKey, "invalid Ed25519 secret key"},
      {CryptoError::InvalidEd25519Signature, CryptoError::InvalidEd25519Signature, "invalid Ed25519 signature"},
      {CryptoError::InvalidHpkePublicKey, CryptoError::InvalidHpkePublicKey, "invalid HPKE public key"},
      {CryptoError::InvalidHpkePrivateKey, CryptoError::InvalidHpkePrivateKey, "invalid HPKE private key"},
      {CryptoError::InvalidHpkeEncapsulatedKey, CryptoError::InvalidHpkeEncapsulatedKey,
       "invalid HPKE encapsulated key"},
      {CryptoError::hpke("open failed"), CryptoError::Hpke, "HPKE operation failed: open failed"},
      {CryptoError::Aead, CryptoError::Aead, "AEAD operation failed"},
      {CryptoError::RatchetAuthentication, CryptoError::RatchetAuthentication, "ratchet authentication failed"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.error.kind(), c.kind) << c.message;
    EXPECT_EQ(c.error.message(), c.message);
  }
}

TEST(CryptoError, PayloadsAreKeptAndCompared) {
  const auto e = CryptoError::invalid_length("content key", 32, 48);
  EXPECT_EQ(e.length_mismatch(), (CryptoError::LengthMismatch{"content key", 32, 48}));
  EXPECT_NE(e, CryptoError::invalid_length("content key", 32, 47));
  EXPECT_NE(e, CryptoError::invalid_length("content nonce", 32, 48));
  EXPECT_EQ(CryptoError(CoreError::validation("x")).core_error(), CoreError::validation("x"));
  EXPECT_EQ(CryptoError::hpke("t").hpke_text(), "t");
  EXPECT_NE(CryptoError::hpke("t"), CryptoError::hpke("u"));
  EXPECT_NE(CryptoError(CryptoError::Aead), CryptoError(CryptoError::RatchetAuthentication));
}

}  // namespace
}  // namespace ostrel
