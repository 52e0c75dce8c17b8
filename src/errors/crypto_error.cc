#include "errors/crypto_error.h"

namespace ostrel {

std::string CryptoError::message() const {
  switch (kind_) {
    case Core: return "core error: " + core_error().message();
    case InvalidLength: {
      const LengthMismatch& m = length_mismatch();
      return "invalid byte length for " + m.what + ": expected " + std::to_string(m.expected) +
             ", got " + std::to_string(m.got);
    }
    case InvalidEd25519PublicKey: return "invalid Ed25519 public key";
    case InvalidEd25519SecretKey: return "invalid Ed25519 secret key";
    case InvalidEd25519Signature: return "invalid Ed25519 signature";
    case InvalidHpkePublicKey: return "invalid HPKE public key";
    case InvalidHpkePrivateKey: return "invalid HPKE private key";
    case InvalidHpkeEncapsulatedKey: return "invalid HPKE encapsulated key";
    case Hpke: return "HPKE operation failed: " + hpke_text();
    case Aead: return "AEAD operation failed";
    case RatchetAuthentication: return "ratchet authentication failed";
  }
  return "unknown crypto error";
}

}  // namespace ostrel
