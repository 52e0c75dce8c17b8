// CryptoError: failures of the crypto layer (identity keys, HPKE, AEAD). Plain data; safe to copy
// and to pass between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <utility>

#include "platform/result.h"
#include "errors/core_error.h"
#include "errors/error_value.h"
#include "errors/shared_texts.h"

namespace ostrel {

class [[nodiscard]] CryptoError : public errors::ErrorValue<CryptoError> {
 public:
  // The kinds in their fixed order.
  enum Kind : std::uint8_t {
    Core = 0,
    InvalidLength = 1,
    InvalidEd25519PublicKey = 2,
    InvalidEd25519SecretKey = 3,
    InvalidEd25519Signature = 4,
    InvalidHpkePublicKey = 5,
    InvalidHpkePrivateKey = 6,
    InvalidHpkeEncapsulatedKey = 7,
    Hpke = 8,
    Aead = 9,
    RatchetAuthentication = 10,
  };

  // What InvalidLength carries: which value, the length it must have, the length it had.
  struct LengthMismatch {
    std::string what;
    std::size_t expected = 0;
    std::size_t got = 0;
    friend bool operator==(const LengthMismatch&, const LengthMismatch&) = default;
  };

  // A kind that carries no data. REQUIRES: kind is not Core, InvalidLength or Hpke.
  // NOLINTNEXTLINE: implicit on purpose, `return CryptoError::Aead;`
  CryptoError(Kind kind) : ErrorValue(Raw{kind, nullptr}) {}
  CryptoError(CoreError e) : CryptoError(make(Core, std::move(e))) {}  // NOLINT: wrapping is common

  static CryptoError invalid_length(std::string what, std::size_t expected, std::size_t got) {
    return make(InvalidLength, std::move(what), expected, got);
  }
  // `text` describes what went wrong inside HPKE.
  static CryptoError hpke(std::string text) { return make(Hpke, std::move(text)); }

  // REQUIRES: kind() == Core.
  const CoreError& core_error() const { return field<CoreError>(0); }
  // REQUIRES: kind() == InvalidLength.
  LengthMismatch length_mismatch() const {
    return {field<std::string>(0), field<std::size_t>(1), field<std::size_t>(2)};
  }
  // REQUIRES: kind() == Hpke.
  const std::string& hpke_text() const { return field<std::string>(0); }

  static constexpr std::string_view form(Kind kind) {
    switch (kind) {
      case Core: return errors::kCoreWrapped;
      case InvalidLength: return "invalid byte length for {}: expected {}, got {}";
      case InvalidEd25519PublicKey: return "invalid Ed25519 public key";
      case InvalidEd25519SecretKey: return "invalid Ed25519 secret key";
      case InvalidEd25519Signature: return "invalid Ed25519 signature";
      case InvalidHpkePublicKey: return "invalid HPKE public key";
      case InvalidHpkePrivateKey: return "invalid HPKE private key";
      case InvalidHpkeEncapsulatedKey: return "invalid HPKE encapsulated key";
      case Hpke: return "HPKE operation failed: {}";
      case Aead: return "AEAD operation failed";
      case RatchetAuthentication: return "ratchet authentication failed";
    }
    return "unknown crypto error";
  }

 private:
  using ErrorValue::ErrorValue;
};

template <class T>
using CryptoResult = platform::Result<T, CryptoError>;

}  // namespace ostrel
