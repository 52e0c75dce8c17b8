// One process-wide class object, created once and kept for the life of the process. The getter
// releases the interpreter lock while it waits for another thread's creation, so no thread waits
// for the cell while holding the lock.
#pragma once

#include <atomic>
#include <mutex>

#include "py/error.h"
#include "py/python.h"

namespace ostrel::py {

struct ClassCell {
  std::once_flag once;
  std::atomic<PyObject*> object{nullptr};
};

using ClassCreator = Result<PyObject*> (*)();
// The cell's object, made by `create` (run once, with the interpreter lock held) on first use. A
// failed creation leaves the cell empty and returns its error. REQUIRES: the interpreter lock.
Result<PyObject*> class_cell_get(ClassCell& cell, ClassCreator create);

}  // namespace ostrel::py
