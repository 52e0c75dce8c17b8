// FrontendError: failures of the front end (selector texts, invitations, user references, hex
// text). Plain data; the message is its only text form. Safe to copy and to pass between threads.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>

#include "errors/error_value.h"

namespace ostrel {

class FrontendError : public errors::ErrorValue<FrontendError> {
 public:
  // Numbered in the enumeration's declaration order; the kinds before InvalidSelector (Ops, Store,
  // Keychain, Cord, IoAt, InviteWrittenCommitFailed, Io, Described) take the numbers 0 to 7 when
  // they are built.
  enum Kind : std::uint8_t {
    InvalidSelector = 8,
    InvalidHex = 9,
  };

  // The whole selector text as the caller gave it, shown quoted, and the grammar's fixed message.
  static FrontendError invalid_selector(std::string text, std::string message) {
    return make(InvalidSelector, errors::Quoted{std::move(text)}, std::move(message));
  }
  // What was decoded ("user ID") and why it failed.
  static FrontendError invalid_hex(std::string label, std::string reason) {
    return make(InvalidHex, std::move(label), std::move(reason));
  }

  // REQUIRES: kind() == InvalidSelector.
  const std::string& selector_text() const { return field<errors::Quoted>(0).text; }
  const std::string& selector_message() const { return field<std::string>(1); }
  // REQUIRES: kind() == InvalidHex.
  const std::string& label() const { return field<std::string>(0); }
  const std::string& reason() const { return field<std::string>(1); }

  static constexpr std::string_view form(Kind kind) {
    switch (kind) {
      case InvalidSelector: return "invalid selector {}: {}";
      case InvalidHex: return "invalid {} hex: {}";
    }
    return "front-end error";
  }

 private:
  using ErrorValue::ErrorValue;
};

template <class T>
using FrontendResult = std::expected<T, FrontendError>;

}  // namespace ostrel
