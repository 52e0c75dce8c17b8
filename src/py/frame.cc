#include "py/frame.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "py/exceptions.h"

namespace ostrel::py {
namespace {

constexpr const char* kUncaught = "uncaught panic at ffi boundary";
constexpr const char* kNoMessage = "internal failure without a message";

[[noreturn]] void abort_uncaught() noexcept {
  std::fputs(kUncaught, stderr);
  std::fputc('\n', stderr);
  std::abort();
}

std::string message_of(std::exception_ptr failure) {
  try {
    std::rethrow_exception(std::move(failure));
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return kNoMessage;
  }
}

// Sets a PanicException carrying the failure's message as the current exception.
void set_panic(std::exception_ptr failure) {
  const std::string message = message_of(std::move(failure));
  PyObject* cls = panic_exception_type();
  Ref text = Ref::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (!text) return;  // the interpreter's own error (out of memory) stands instead
  PyErr_SetObject(cls, text.get());
}

}  // namespace

namespace detail {

void raise_panic(std::exception_ptr failure) noexcept {
  try {
    set_panic(std::move(failure));
  } catch (...) {
    abort_uncaught();
  }
}

void report_unraisable(std::exception_ptr failure) noexcept {
  try {
    // A deallocation may run while another exception is being raised; that one stays.
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    set_panic(std::move(failure));
    PyErr_WriteUnraisable(nullptr);
    PyErr_Restore(type, value, traceback);
  } catch (...) {
    abort_uncaught();
  }
}

}  // namespace detail
}  // namespace ostrel::py
