// Propagation helpers for std::expected: failures are values and travel upward unchanged or
// wrapped by the caller's own enumeration.
#pragma once

#include <expected>
#include <utility>

// Evaluates an expression yielding std::expected<void, E>; on failure returns its error.
#define OSTREL_TRY(expr)                                        \
  do {                                                          \
    if (auto ostrel_try_result_ = (expr); !ostrel_try_result_)  \
      return std::unexpected(std::move(ostrel_try_result_).error()); \
  } while (0)

// As OSTREL_TRY, but binds the value of a std::expected<T, E> to `lhs` on success.
#define OSTREL_TRY_ASSIGN(lhs, expr) OSTREL_TRY_ASSIGN_IMPL_(OSTREL_TRY_CAT_(ostrel_try_v_, __LINE__), lhs, expr)
#define OSTREL_TRY_CAT_(a, b) OSTREL_TRY_CAT2_(a, b)
#define OSTREL_TRY_CAT2_(a, b) a##b
#define OSTREL_TRY_ASSIGN_IMPL_(tmp, lhs, expr)                 \
  auto tmp = (expr);                                            \
  if (!tmp) return std::unexpected(std::move(tmp).error());     \
  lhs = std::move(tmp).value()
