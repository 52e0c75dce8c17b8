// Errors on their way to Python: which exception class to raise and the message, as plain data.
// Nothing Python-side exists until a call frame raises one, so these are built freely while the
// interpreter lock is released. Safe to copy and to pass between threads.
#pragma once

#include "platform/result.h"
#include <cstdint>
#include <expected>
#include <stdexcept>
#include <string>
#include <utility>

namespace ostrel::py {

enum class ErrorClass : std::uint8_t {
  OstrelError,
  NotFound,
  PermissionDenied,
  ConflictError,
  ValidationError,
  IdentityError,
  TypeError,
  RuntimeError,
  // The interpreter's current exception already is the error (a failed call into it).
  AlreadySet,
};

struct Error {
  ErrorClass cls;
  std::string message;

  static Error ostrel(std::string m) { return {ErrorClass::OstrelError, std::move(m)}; }
  static Error not_found(std::string m) { return {ErrorClass::NotFound, std::move(m)}; }
  static Error permission_denied(std::string m) { return {ErrorClass::PermissionDenied, std::move(m)}; }
  static Error conflict(std::string m) { return {ErrorClass::ConflictError, std::move(m)}; }
  static Error validation(std::string m) { return {ErrorClass::ValidationError, std::move(m)}; }
  static Error identity(std::string m) { return {ErrorClass::IdentityError, std::move(m)}; }
  static Error type_error(std::string m) { return {ErrorClass::TypeError, std::move(m)}; }
  static Error runtime(std::string m) { return {ErrorClass::RuntimeError, std::move(m)}; }
  // REQUIRES: the interpreter lock is held and its error indicator is set.
  static Error already_set() { return {ErrorClass::AlreadySet, {}}; }

  // Makes this the interpreter's current exception, unless one outside Exception (raised by the
  // caller's own code, a KeyboardInterrupt say) is set already. REQUIRES: the interpreter lock
  // is held.
  void raise() const;
};

template <class T>
using Result = platform::Result<T, Error>;

// An internal failure: a fault of this module, never an ordinary error. The call frames turn it
// into a PanicException.
class Panic : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace ostrel::py
