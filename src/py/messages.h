// The binding's own messages: every text the module raises itself, in one place. Python code
// tells failures apart by these words. Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ostrel::py::messages {

inline constexpr std::string_view kPoisoned = "Ostrel vault session lock is poisoned";
inline constexpr std::string_view kSecretNotUtf8 = "secret is not valid UTF-8";
inline constexpr std::string_view kFieldNotUtf8 = "field value is not valid UTF-8";
inline constexpr std::string_view kExpectedSelector = "expected a selector string or Selector";
inline constexpr std::string_view kSecretValueType = "secret value must be str or bytes";
inline constexpr std::string_view kExpectedInvite = "expected a string or file-like object";
inline constexpr std::string_view kSelectorPath = "selector path must contain at least one non-empty segment";
inline constexpr std::string_view kSelectorLabels = "selector label names and values must be non-empty";
inline constexpr std::string_view kAlreadyBorrowed = "Already borrowed";
inline constexpr std::string_view kAlreadyMutablyBorrowed = "Already mutably borrowed";
// The purpose every keychain unlock of this module names.
inline constexpr std::string_view kUnlockPurpose = "use this identity from the Ostrel Python SDK";

inline std::string secret_not_found(std::string_view selector) {
  return "secret " + std::string(selector) + " not found";
}
inline std::string not_authorized(std::string_view selector) {
  return "not authorized for secret " + std::string(selector);
}
inline std::string secret_conflicted(std::string_view selector) {
  return "secret " + std::string(selector) + " is conflicted";
}
inline std::string neither_set(std::string_view a, std::string_view b) {
  return "neither " + std::string(a) + " nor " + std::string(b) + " is set";
}
inline std::string set_only_one(std::string_view a, std::string_view b) {
  return "set only one of " + std::string(a) + " or " + std::string(b);
}
inline std::string failed_to_read(std::string_view path, std::string_view why) {
  return "failed to read " + std::string(path) + ": " + std::string(why);
}
// "1 unresolved conflict", "3 unresolved conflicts".
inline std::string count_phrase(std::size_t count, std::string_view noun) {
  std::string out = std::to_string(count) + " " + std::string(noun);
  if (count != 1) out += 's';
  return out;
}
inline std::string vault_has_conflicts(std::size_t count) {
  return "vault has " + count_phrase(count, "unresolved conflict") +
         "; resolve them before using the Ostrel Python SDK";
}
// Conversions that read the caller's object item by item stop at these bounds.
inline std::string secret_value_too_long(std::uint64_t limit) {
  return "secret value is longer than " + std::to_string(limit) + " bytes";
}
inline std::string invite_too_long(std::uint64_t limit) {
  return "invitation is longer than " + std::to_string(limit) + " bytes";
}
inline std::string path_too_long(std::uint64_t limit) {
  return "a path holds at most " + std::to_string(limit) + " segments";
}
inline std::string cannot_create(std::string_view qualified_class) {
  return "cannot create '" + std::string(qualified_class) + "' instances";
}

}  // namespace ostrel::py::messages
