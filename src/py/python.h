// The one include of the interpreter's headers, on the limited API of CPython 3.10, and `Ref`,
// the owner of one strong reference. A Ref is released only while its thread holds the
// interpreter lock; every Ref of this module lives inside a call frame (py/frame.h) and never
// across a release of the lock, and the release checks it (the nesting count of py/gil.h).
#pragma once

#ifndef Py_LIMITED_API
#error "the module is built on the limited API only (Py_LIMITED_API=0x030A0000)"
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace ostrel::py {

namespace detail {
// Drops one reference. Aborts with "a Python reference was released without the interpreter
// lock" unless the calling thread's nesting count (py/gil.h) shows the lock held.
void release_reference(PyObject* object) noexcept;
}  // namespace detail

class Ref {
 public:
  Ref() = default;
  // Takes over a new reference (null allowed).
  static Ref steal(PyObject* object) { return Ref(object); }
  // Adds a reference to a borrowed object.
  static Ref borrow(PyObject* object) {
    Py_XINCREF(object);
    return Ref(object);
  }

  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    Ref moved(std::move(other));
    std::swap(object_, moved.object_);
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (object_ != nullptr) detail::release_reference(object_);
  }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() { return std::exchange(object_, nullptr); }

 private:
  explicit Ref(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace ostrel::py
