#include "py/error.h"

#include "py/exceptions.h"
#include "py/python.h"

namespace ostrel::py {

void Error::raise() const {
  // A KeyboardInterrupt, SystemExit or other exception outside Exception that the caller's own
  // code raised on the way to this error stands instead of it (see clear_ordinary_exception).
  if (PyErr_Occurred() != nullptr && !PyErr_ExceptionMatches(PyExc_Exception)) return;
  PyObject* type = nullptr;
  switch (cls) {
    case ErrorClass::AlreadySet:
      if (PyErr_Occurred() == nullptr) throw Panic("an error was reported without an exception");
      return;
    case ErrorClass::TypeError: type = PyExc_TypeError; break;
    case ErrorClass::RuntimeError: type = PyExc_RuntimeError; break;
    default: type = exception_type(cls); break;
  }
  Ref text = Ref::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (!text) return;  // the interpreter's own error stands
  PyErr_SetObject(type, text.get());
}

}  // namespace ostrel::py
