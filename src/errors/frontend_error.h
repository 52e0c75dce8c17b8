// FrontendError: failures of the front end (selector texts, invitations, user references, hex
// text). Plain data; the message is its only text form. Safe to move between threads.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <variant>

namespace ostrel {

class FrontendError {
 public:
  // Numbered in the enumeration's declaration order; the kinds before InvalidHex (Ops, Store,
  // Keychain, Cord, IoAt, InviteWrittenCommitFailed, Io, Described, InvalidSelector) take the
  // numbers 0 to 8 when they are built.
  enum Kind : std::uint8_t {
    InvalidSelector = 8,
    InvalidHex = 9,
  };

  // "invalid selector {text}: {message}", the caller's text in quoted form.
  static FrontendError invalid_selector(std::string text, std::string message) {
    return FrontendError(InvalidSelector, LabelledText{std::move(text), std::move(message)});
  }

  // "invalid {label} hex: {reason}"
  static FrontendError invalid_hex(std::string label, std::string reason) {
    return FrontendError(InvalidHex, LabelledText{std::move(label), std::move(reason)});
  }

  Kind kind() const { return kind_; }
  // REQUIRES: kind() == InvalidSelector. The whole selector text as the caller gave it.
  const std::string& selector_text() const { return std::get<LabelledText>(payload_).label; }
  // REQUIRES: kind() == InvalidSelector. The grammar's fixed message.
  const std::string& selector_message() const { return std::get<LabelledText>(payload_).text; }
  // REQUIRES: kind() == InvalidHex. What was decoded ("user ID") and why it failed.
  const std::string& label() const { return std::get<LabelledText>(payload_).label; }
  const std::string& reason() const { return std::get<LabelledText>(payload_).text; }

  // The message of the kind with its payload.
  std::string message() const;

 private:
  struct LabelledText {
    std::string label;
    std::string text;
  };
  using Payload = std::variant<std::monostate, LabelledText>;

  FrontendError(Kind kind, Payload payload) : kind_(kind), payload_(std::move(payload)) {}

  Kind kind_;
  Payload payload_;
};

template <class T>
using FrontendResult = std::expected<T, FrontendError>;

}  // namespace ostrel
