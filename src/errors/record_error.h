// RecordError: failures of record signing. Plain data.
#pragma once

#include <expected>
#include <string>
#include <utility>
#include <variant>

#include "errors/core_error.h"
#include "errors/identifiers.h"

namespace ostrel {

class RecordError {
 public:
  enum Kind { SignerMismatch = 0, Core = 1 };

  // The identity's stored user id disagrees with the id of its public keys.
  struct Mismatch {
    UserId expected;  // the stored id
    UserId actual;    // the id derived from the keys
    friend bool operator==(const Mismatch&, const Mismatch&) = default;
  };

  RecordError(Mismatch m) : payload_(std::move(m)) {}   // NOLINT: one of two kinds
  RecordError(CoreError e) : payload_(std::move(e)) {}  // NOLINT

  Kind kind() const { return static_cast<Kind>(payload_.index()); }
  // REQUIRES: kind() == SignerMismatch.
  const Mismatch& mismatch() const { return std::get<Mismatch>(payload_); }
  // REQUIRES: kind() == Core.
  const CoreError& core_error() const { return std::get<CoreError>(payload_); }

  // "signer identity does not match signing public key" (neither id shown) or "core error: {}".
  std::string message() const;

  friend bool operator==(const RecordError&, const RecordError&) = default;

 private:
  std::variant<Mismatch, CoreError> payload_;
};

template <class T>
using RecordResult = std::expected<T, RecordError>;

}  // namespace ostrel
