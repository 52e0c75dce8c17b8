// RecordError: failures of record signing. Plain data; safe to copy and to pass between threads.
#pragma once

#include <expected>
#include <string>
#include <utility>

#include "platform/result.h"
#include "errors/core_error.h"
#include "errors/error_value.h"
#include "errors/shared_texts.h"
#include "ids/identifiers.h"

namespace ostrel {

class [[nodiscard]] RecordError : public errors::ErrorValue<RecordError> {
 public:
  enum Kind : std::uint8_t { SignerMismatch = 0, Core = 1 };

  // The identity's stored user id disagrees with the id of its public keys.
  struct Mismatch {
    UserId expected;  // the stored id
    UserId actual;    // the id derived from the keys
    friend bool operator==(const Mismatch&, const Mismatch&) = default;
  };

  RecordError(CoreError e) : RecordError(make(Core, std::move(e))) {}  // NOLINT: wrapping is the common case
  static RecordError signer_mismatch(UserId expected, UserId actual) {
    return make(SignerMismatch, std::move(expected), std::move(actual));
  }

  // REQUIRES: kind() == SignerMismatch.
  Mismatch mismatch() const { return {field<UserId>(0), field<UserId>(1)}; }
  // REQUIRES: kind() == Core.
  const CoreError& core_error() const { return field<CoreError>(0); }

  static constexpr std::string_view form(Kind kind) {
    switch (kind) {
      case SignerMismatch: return "signer identity does not match signing public key";  // neither id shown
      case Core: return errors::kCoreWrapped;
    }
    return "record error";
  }

 private:
  using ErrorValue::ErrorValue;
};

template <class T>
using RecordResult = platform::Result<T, RecordError>;

}  // namespace ostrel
