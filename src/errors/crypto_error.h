// CryptoError: failures of the crypto layer (identity keys, HPKE, AEAD). Plain data; safe to copy
// and to pass between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <utility>
#include <variant>

#include "errors/core_error.h"

namespace ostrel {

class CryptoError {
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
  CryptoError(Kind kind) : kind_(kind) {}  // NOLINT: implicit on purpose, `return CryptoError::Aead;`
  CryptoError(CoreError e) : kind_(Core), payload_(std::move(e)) {}  // NOLINT: wrapping is common

  static CryptoError invalid_length(std::string what, std::size_t expected, std::size_t got) {
    CryptoError e(InvalidLength);
    e.payload_ = LengthMismatch{std::move(what), expected, got};
    return e;
  }
  // `text` describes what went wrong inside HPKE.
  static CryptoError hpke(std::string text) {
    CryptoError e(Hpke);
    e.payload_ = std::move(text);
    return e;
  }

  Kind kind() const { return kind_; }
  // REQUIRES: kind() == Core.
  const CoreError& core_error() const { return std::get<CoreError>(payload_); }
  // REQUIRES: kind() == InvalidLength.
  const LengthMismatch& length_mismatch() const { return std::get<LengthMismatch>(payload_); }
  // REQUIRES: kind() == Hpke.
  const std::string& hpke_text() const { return std::get<std::string>(payload_); }

  std::string message() const;

  friend bool operator==(const CryptoError&, const CryptoError&) = default;

 private:
  Kind kind_;
  std::variant<std::monostate, CoreError, LengthMismatch, std::string> payload_;
};

template <class T>
using CryptoResult = std::expected<T, CryptoError>;

}  // namespace ostrel
