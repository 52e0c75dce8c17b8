// The one result type of the system: a value or the error that took its place. It is a
// std::expected that cannot be dropped unread: a caller that ignores a result that may hold a
// failure gets a compiler warning (an error in our builds). Every result alias uses it.
#pragma once

#include <concepts>
#include <expected>
#include <type_traits>
#include <utility>

namespace ostrel::platform {

template <class T, class E>
class [[nodiscard]] Result : public std::expected<T, E> {
 public:
  using std::expected<T, E>::expected;
  Result() = default;
  // From the plain form (what the monadic operations of std::expected return).
  Result(std::expected<T, E> plain) : std::expected<T, E>(std::move(plain)) {}  // NOLINT: the same value

  // Two results compare as their plain forms do (std::expected's comparison with a value would
  // otherwise take the other result for a value).
  friend bool operator==(const Result& a, const Result& b)
    requires std::equality_comparable<std::expected<T, E>>
  {
    return static_cast<const std::expected<T, E>&>(a) == static_cast<const std::expected<T, E>&>(b);
  }
};

}  // namespace ostrel::platform
