#include "py/gil.h"

#include <cstdio>
#include <cstdlib>

namespace ostrel::py {
namespace {

thread_local int tls_gil_count = 0;

constexpr const char* kReleasedUnheld = "a Python reference was released without the interpreter lock";

}  // namespace

int gil_count() { return tls_gil_count; }

GilHeld::GilHeld() { ++tls_gil_count; }
GilHeld::~GilHeld() { --tls_gil_count; }

AllowThreads::AllowThreads() : count_(tls_gil_count) {
  tls_gil_count = 0;
  saved_ = PyEval_SaveThread();
}

AllowThreads::~AllowThreads() {
  PyEval_RestoreThread(saved_);
  tls_gil_count = count_;
}

void AllowThreads::reacquire() {
  PyEval_RestoreThread(saved_);
  tls_gil_count = count_;
}

void AllowThreads::release_again() {
  tls_gil_count = 0;
  saved_ = PyEval_SaveThread();
}

namespace detail {

void release_reference(PyObject* object) noexcept {
  // Dropping a reference may free the object and run arbitrary code in the interpreter; without
  // the lock that corrupts its state at random, so it stops here instead, where it is seen.
  if (tls_gil_count <= 0) [[unlikely]] {
    std::fputs(kReleasedUnheld, stderr);
    std::fputc('\n', stderr);
    std::abort();
  }
  Py_DECREF(object);
}

}  // namespace detail
}  // namespace ostrel::py
