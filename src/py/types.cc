#include "py/types.h"

#include <string>
#include <vector>

#include "py/frame.h"
#include "py/messages.h"

namespace ostrel::py {
namespace {

// __new__ of a class that has no constructor of its own.
PyObject* refuse_new(PyTypeObject* type, PyObject*, PyObject*) {
  return object_frame("refuse_new", [&]() -> Result<Ref> {
    Ref module = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    Ref name = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
    if (!module || !name) return std::unexpected(Error::already_set());
    Ref qualified = Ref::steal(PyUnicode_FromFormat("%U.%U", module.get(), name.get()));
    if (!qualified) return std::unexpected(Error::already_set());
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(qualified.get(), &size);
    if (text == nullptr) return std::unexpected(Error::already_set());
    return std::unexpected(Error::type_error(messages::cannot_create(std::string_view(text, size))));
  });
}

}  // namespace

Result<PyObject*> create_type(const ClassSpec& spec) {
  std::vector<PyType_Slot> slots;
  slots.push_back({Py_tp_base, &PyBaseObject_Type});
  slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(spec.dealloc)});
  if (spec.doc != nullptr && spec.doc[0] != '\0') slots.push_back({Py_tp_doc, const_cast<char*>(spec.doc)});
  bool has_new = false;
  for (const PyType_Slot& s : spec.slots) {
    has_new = has_new || s.slot == Py_tp_new;
    slots.push_back(s);
  }
  if (!has_new) slots.push_back({Py_tp_new, reinterpret_cast<void*>(refuse_new)});
  slots.push_back({0, nullptr});

  PyType_Spec type_spec{spec.name, spec.basicsize, 0, Py_TPFLAGS_DEFAULT, slots.data()};
  PyObject* type = PyType_FromSpec(&type_spec);
  if (type == nullptr) return std::unexpected(Error::already_set());
  return type;
}

Result<Ref> new_instance(PyTypeObject* type) {
  auto object_new = reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
  Ref empty = Ref::steal(PyTuple_New(0));
  if (!empty) return std::unexpected(Error::already_set());
  Ref made = Ref::steal(object_new(type, empty.get(), nullptr));
  if (!made) return std::unexpected(Error::already_set());
  return made;
}

void free_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(reinterpret_cast<PyObject*>(type));
}

}  // namespace ostrel::py
