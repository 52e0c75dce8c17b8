// The call frames every entry point of the module runs in, one per way the interpreter calls in.
// Each does the same steps: it counts the interpreter lock as held by its thread (py/gil.h), runs
// the body under a catcher, raises the body's Error, and turns any C++ failure into a
// PanicException (derived from BaseException): nothing escapes into the interpreter. The argument
// forms first match the call's arguments against the entry's parameters, so a body starts from
// its arguments by name. Per-thread state only; safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <exception>
#include <string_view>
#include <utility>

#include "errors/try.h"
#include "py/args.h"
#include "py/error.h"
#include "py/gil.h"
#include "py/python.h"
#include "py/test_hooks.h"

namespace ostrel::py {

// The arguments of one call, matched: one borrowed reference per parameter, null when omitted.
template <std::size_t N>
using Given = std::array<PyObject*, N>;

namespace detail {

// Raises the caught failure as a PanicException. Aborts with "uncaught panic at ffi boundary"
// should raising it fail in turn.
void raise_panic(std::exception_ptr failure) noexcept;
// The same as an unraisable report (deallocation).
void report_unraisable(std::exception_ptr failure) noexcept;

}  // namespace detail

// An entry that returns an object (the self-only, no-argument and attribute entries, and the
// base of the argument forms): NULL with the exception set on failure. `entry` names it as
// Python shows it ("Vault.get", "Selector.__str__"), in argument errors and to the test build's
// failure trigger.
template <class Body>
PyObject* object_frame(std::string_view entry, Body&& body) noexcept {
  GilHeld held;
  try {
    test_entry_trigger(entry);
    Result<Ref> result = std::forward<Body>(body)();
    if (result) return result->release();
    result.error().raise();
  } catch (...) {
    detail::raise_panic(std::current_exception());
  }
  return nullptr;
}

// The argument frame of an instance method (METH_VARARGS | METH_KEYWORDS): body(self, given).
template <std::size_t N, class Body>
PyObject* method_frame(std::string_view entry, const std::array<Param, N>& params, PyObject* self, PyObject* args,
                       PyObject* kwargs, Body&& body) noexcept {
  return object_frame(entry, [&]() -> Result<Ref> {
    Given<N> given{};
    OSTREL_TRY(match_args(entry, params, args, kwargs, given));
    return std::forward<Body>(body)(self, given);
  });
}

// The argument frame of a class method (METH_CLASS): body(cls, given), `cls` the class it was
// called on.
template <std::size_t N, class Body>
PyObject* class_method_frame(std::string_view entry, const std::array<Param, N>& params, PyObject* cls,
                             PyObject* args, PyObject* kwargs, Body&& body) noexcept {
  return method_frame(entry, params, cls, args, kwargs, [&](PyObject* c, Given<N>& given) {
    return std::forward<Body>(body)(reinterpret_cast<PyTypeObject*>(c), given);
  });
}

// The argument frame of a constructor (tp_new): body(type, given), `type` the class being
// instantiated.
template <std::size_t N, class Body>
PyObject* new_frame(std::string_view entry, const std::array<Param, N>& params, PyTypeObject* type, PyObject* args,
                    PyObject* kwargs, Body&& body) noexcept {
  return method_frame(entry, params, reinterpret_cast<PyObject*>(type), args, kwargs,
                      [&](PyObject* t, Given<N>& given) {
                        return std::forward<Body>(body)(reinterpret_cast<PyTypeObject*>(t), given);
                      });
}

// The module's execution slot: 0, or -1 with the exception set.
template <class Body>
int exec_frame(std::string_view entry, Body&& body) noexcept {
  GilHeld held;
  try {
    test_entry_trigger(entry);
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
void dealloc_frame(std::string_view entry, Body&& body) noexcept {
  GilHeld held;
  try {
    test_entry_trigger(entry);
    std::forward<Body>(body)();
  } catch (...) {
    detail::report_unraisable(std::current_exception());
  }
}

}  // namespace ostrel::py
