// The common machinery of the module's three classes: heap types made from a specification once
// per process (final: no subclassing, no instance dictionary, no weak references), and the
// allocation and release of their instances. REQUIRES (every function): the interpreter lock.
#pragma once

#include <span>

#include "py/error.h"
#include "py/python.h"

namespace ostrel::py {

struct ClassCell;

struct ClassSpec {
  const char* name;  // "ostrel.<Class>"
  int basicsize;
  const char* doc;   // null: no documentation slot
  destructor dealloc;
  std::span<PyType_Slot> slots;  // the class's own slots; a class without Py_tp_new gets one that refuses
};

// Creates the type of `spec`. A refusal of the interpreter is returned as its error.
Result<PyObject*> create_type(const ClassSpec& spec);

// A new, zeroed instance of `type` made by object's own __new__.
Result<Ref> new_instance(PyTypeObject* type);

// Frees an instance through its type's tp_free and drops the reference the instance held on its
// heap type. The last step of every tp_dealloc.
void free_instance(PyObject* self);

}  // namespace ostrel::py
