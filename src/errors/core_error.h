// CoreError: failures of the core model's encodings and derivations. Plain data; safe to copy and
// to pass between threads.
#pragma once

#include <expected>
#include <string>
#include <utility>

#include "platform/result.h"
#include "errors/cord_error.h"
#include "errors/error_value.h"
#include "errors/shared_texts.h"

namespace ostrel {

class [[nodiscard]] CoreError : public errors::ErrorValue<CoreError> {
 public:
  enum Kind : std::uint8_t { Cord = 0, Validation = 1 };

  CoreError(cord::Error e) : CoreError(make(Cord, std::move(e))) {}  // NOLINT: wrapping is the common case
  static CoreError validation(std::string message) { return make(Validation, std::move(message)); }

  // REQUIRES: kind() == Cord.
  const cord::Error& cord_error() const { return field<cord::Error>(0); }
  // REQUIRES: kind() == Validation.
  const std::string& validation_message() const { return field<std::string>(0); }

  static constexpr std::string_view form(Kind kind) {
    switch (kind) {
      case Cord: return "cord error: {}";
      case Validation: return errors::kValidationFailed;
    }
    return "core error";
  }

 private:
  using ErrorValue::ErrorValue;
};

template <class T>
using CoreResult = platform::Result<T, CoreError>;

}  // namespace ostrel
