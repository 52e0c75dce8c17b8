// The call frames every entry point of the module runs in. A frame counts the interpreter lock as
// held by its thread (py/gil.h), runs the body, raises the body's Error, and turns any C++ failure
// into a PanicException (derived from BaseException): nothing escapes into the interpreter.
// Per-thread state only; safe from any thread.
#pragma once

#include <exception>
#include <utility>

#include "py/error.h"
#include "py/gil.h"
#include "py/python.h"

namespace ostrel::py {

namespace detail {

// Raises the caught failure as a PanicException. Aborts with "uncaught panic at ffi boundary"
// should raising it fail in turn.
void raise_panic(std::exception_ptr failure) noexcept;
// The same as an unraisable report (deallocation).
void report_unraisable(std::exception_ptr failure) noexcept;

}  // namespace detail

// An entry that returns an object: NULL with the exception set on failure.
template <class Body>
PyObject* object_frame(Body&& body) noexcept {
  GilHeld held;
  try {
    Result<Ref> result = std::forward<Body>(body)();
    if (result) return result->release();
    result.error().raise();
  } catch (...) {
    detail::raise_panic(std::current_exception());
  }
  return nullptr;
}

// The module's execution slot: 0, or -1 with the exception set.
template <class Body>
int exec_frame(Body&& body) noexcept {
  GilHeld held;
  try {
    Result<void> result = std::forward<Body>(body)();
    if (result) return 0;
    result.error().raise();
  } catch (...) {
    detail::raise_panic(std::current_exception());
  }
  return -1;
}

// Deallocation: never raises; a failure goes to the interpreter's unraisable hook.
template <class Body>
void dealloc_frame(Body&& body) noexcept {
  GilHeld held;
  try {
    std::forward<Body>(body)();
  } catch (...) {
    detail::report_unraisable(std::current_exception());
  }
}

}  // namespace ostrel::py
