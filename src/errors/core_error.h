// CoreError: failures of the core model's encodings and derivations. Plain data.
#pragma once

#include <expected>
#include <string>
#include <utility>
#include <variant>

#include "errors/cord_error.h"

namespace ostrel {

class CoreError {
 public:
  enum Kind { Cord = 0, Validation = 1 };

  CoreError(cord::Error e) : payload_(std::move(e)) {}  // NOLINT: wrapping is the common case
  static CoreError validation(std::string message) {
    CoreError e(cord::Error::Io);
    e.payload_ = std::move(message);
    return e;
  }

  Kind kind() const { return static_cast<Kind>(payload_.index()); }
  // REQUIRES: kind() == Cord.
  const cord::Error& cord_error() const { return std::get<0>(payload_); }
  // REQUIRES: kind() == Validation.
  const std::string& validation_message() const { return std::get<1>(payload_); }

  // "cord error: {}" or "validation failed: {}".
  std::string message() const;

  friend bool operator==(const CoreError&, const CoreError&) = default;

 private:
  std::variant<cord::Error, std::string> payload_;
};

template <class T>
using CoreResult = std::expected<T, CoreError>;

}  // namespace ostrel
