// The module `ostrel`: its one exported entry point and the multi-phase initialisation that
// publishes the classes and the exception classes. Runs with the interpreter lock held.

#include <array>
#include <string_view>

#include "errors/try.h"
#include "py/auth.h"
#include "py/exceptions.h"
#include "py/frame.h"
#include "py/python.h"
#include "py/selector.h"
#include "py/vault.h"

namespace ostrel::py {
namespace {

// Appends `name` to the module's __all__ (made first when missing), then sets the attribute.
Result<void> module_add_object(PyObject* module, std::string_view name, PyObject* object) {
  Ref text = Ref::steal(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
  if (!text) return std::unexpected(Error::already_set());
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    PyErr_Clear();
    all = Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) != 0) return std::unexpected(Error::already_set());
  }
  if (PyList_Append(all.get(), text.get()) != 0) throw Panic("could not append __name__ to __all__");
  if (PyObject_SetAttr(module, text.get(), object) != 0) return std::unexpected(Error::already_set());
  return {};
}

Result<void> module_body(PyObject* module) {
  using Getter = Result<PyObject*> (*)();
  static constexpr std::array<std::pair<std::string_view, Getter>, 3> kClasses{{
      {"Auth", auth_type},
      {"Selector", selector_type},
      {"Vault", vault_type},
  }};
  for (const auto& [name, get] : kClasses) {
    OSTREL_TRY_ASSIGN(auto type, get());
    if (auto added = module_add_object(module, name, type); !added) return added;
  }
  for (const auto& [name, cls] : kExceptionClasses) {
    if (auto added = module_add_object(module, name, exception_type(cls)); !added) return added;
  }
  return {};
}

int module_exec(PyObject* module) {
  return exec_frame("Py_mod_exec", [&]() -> Result<void> {
    if (!PyObject_TypeCheck(module, &PyModule_Type)) {
      return std::unexpected(Error::type_error("the object is not an instance of the module type"));
    }
    return module_body(module);
  });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "ostrel", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace ostrel::py

PyMODINIT_FUNC PyInit_ostrel(void) { return PyModuleDef_Init(&ostrel::py::module_def); }
