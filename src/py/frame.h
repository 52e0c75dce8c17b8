// The call frames every entry point of the module runs in, and the release of the interpreter
// lock. A frame counts the interpreter lock as held by its thread, runs the body, raises the
// body's Error, and turns any C++ failure into a PanicException (derived from BaseException):
// nothing escapes into the interpreter. Per-thread state only; safe from any thread.
#pragma once

#include <exception>
#include <utility>

#include "py/error.h"
#include "py/python.h"

namespace ostrel::py {

// How often the calling thread holds the interpreter lock through a frame; 0 while released.
int gil_count();

// Releases the interpreter lock for its lifetime (the nesting count saved and set to 0) and
// re-takes it when it ends, also when a failure unwinds through it. REQUIRES: the lock is held.
class AllowThreads {
 public:
  AllowThreads();
  ~AllowThreads();
  AllowThreads(const AllowThreads&) = delete;
  AllowThreads& operator=(const AllowThreads&) = delete;

  // Takes the lock back for a moment inside the released stretch, and releases it again.
  void reacquire();
  void release_again();

 private:
  PyThreadState* saved_;
  int count_;
};

namespace detail {

class FrameCount {
 public:
  FrameCount();
  ~FrameCount();
  FrameCount(const FrameCount&) = delete;
  FrameCount& operator=(const FrameCount&) = delete;
};

// Raises the caught failure as a PanicException. Aborts with "uncaught panic at ffi boundary"
// should raising it fail in turn.
void raise_panic(std::exception_ptr failure) noexcept;
// The same as an unraisable report (deallocation).
void report_unraisable(std::exception_ptr failure) noexcept;

}  // namespace detail

// An entry that returns an object: NULL with the exception set on failure.
template <class Body>
PyObject* object_frame(Body&& body) noexcept {
  detail::FrameCount count;
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
  detail::FrameCount count;
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
  detail::FrameCount count;
  try {
    std::forward<Body>(body)();
  } catch (...) {
    detail::report_unraisable(std::current_exception());
  }
}

}  // namespace ostrel::py
