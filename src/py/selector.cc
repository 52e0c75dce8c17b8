#include "py/selector.h"

#include <array>
#include <utility>

#include "errors/text_form.h"
#include "errors/try.h"
#include "frontend/selector/grammar.h"
#include "py/args.h"
#include "py/class_cell.h"
#include "py/convert.h"
#include "py/exceptions.h"
#include "py/frame.h"
#include "py/messages.h"
#include "py/test_hooks.h"
#include "py/types.h"

namespace ostrel::py {
namespace {

struct SelectorObject {
  PyObject_HEAD
  SelectorValue* value;
};

SelectorValue& value_of(PyObject* self) { return *reinterpret_cast<SelectorObject*>(self)->value; }

constexpr std::array<Param, 2> kNewParams{{{"path", true, false}, {"labels", false, false}}};

Result<std::vector<std::string>> path_arg(PyObject* object) {
  // A str is a sequence of characters, never a path.
  if (PyUnicode_Check(object) || !PySequence_Check(object)) {
    return std::unexpected(
        argument_error("path", "'" + type_name(object) + "' object cannot be converted to a sequence of 'str'"));
  }
  const Py_ssize_t n = PySequence_Size(object);
  if (n < 0) return std::unexpected(argument_error_from_exception("path"));
  // Refused before any item is read: the items are asked for by index up to the claimed length.
  if (static_cast<std::uint64_t>(n) > kMaxPathItems) {
    return std::unexpected(argument_error("path", messages::path_too_long(kMaxPathItems)));
  }
  std::vector<std::string> path;
  for (Py_ssize_t i = 0; i < n; ++i) {
    Ref item = Ref::steal(PySequence_GetItem(object, i));
    if (!item) return std::unexpected(argument_error_from_exception("path"));
    OSTREL_TRY_ASSIGN(auto text, str_arg(item.get(), "path"));
    path.push_back(std::move(text));
  }
  return path;
}

Result<std::map<std::string, std::string>> labels_arg(PyObject* object) {
  std::map<std::string, std::string> labels;
  if (object == nullptr || object == Py_None) return labels;
  if (!PyDict_Check(object)) {
    return std::unexpected(argument_error("labels", "'" + type_name(object) + "' object cannot be converted to 'dict'"));
  }
  PyObject *key = nullptr, *value = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(object, &pos, &key, &value)) {
    OSTREL_TRY_ASSIGN(auto k, str_arg(key, "labels"));
    OSTREL_TRY_ASSIGN(auto v, str_arg(value, "labels"));
    labels.insert_or_assign(std::move(k), std::move(v));
  }
  return labels;
}

// Selector(path, labels=None)
Result<Ref> make_selector(PyTypeObject* type, const Given<2>& given) {
  OSTREL_TRY_ASSIGN(auto path, path_arg(given[0]));
  OSTREL_TRY_ASSIGN(auto labels, labels_arg(given[1]));
  if (path.empty()) return std::unexpected(Error::ostrel(std::string(messages::kSelectorPath)));
  test_failure_trigger(path.front());
  for (const auto& segment : path) {
    if (segment.empty()) return std::unexpected(Error::ostrel(std::string(messages::kSelectorPath)));
  }
  for (const auto& [name, value] : labels) {
    if (name.empty() || value.empty()) return std::unexpected(Error::ostrel(std::string(messages::kSelectorLabels)));
  }
  auto made = new_instance(type);
  if (!made) return made;
  reinterpret_cast<SelectorObject*>(made->get())->value = new SelectorValue{std::move(path), std::move(labels)};
  return made;
}

PyObject* selector_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return new_frame("Selector.__new__", kNewParams, type, args, kwargs, make_selector);
}

Result<Ref> text_object(const std::string& text) {
  Ref made = Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  if (!made) return std::unexpected(Error::already_set());
  return made;
}

PyObject* selector_str(PyObject* self) {
  return object_frame("Selector.__str__",
                      [&]() -> Result<Ref> { return text_object(value_of(self).canonical_text()); });
}

PyObject* selector_repr(PyObject* self) {
  return object_frame("Selector.__repr__", [&]() -> Result<Ref> {
    const SelectorValue& v = value_of(self);
    std::string text = "Selector(" + errors::quoted_list(v.path);
    if (!v.labels.empty()) text += ", labels=" + errors::quoted_map(v.labels);
    text += ")";
    return text_object(text);
  });
}

PyObject* selector_path(PyObject* self, void*) {
  return object_frame("Selector.path", [&]() -> Result<Ref> {
    const auto& path = value_of(self).path;
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(path.size())));
    if (!tuple) return std::unexpected(Error::already_set());
    for (std::size_t i = 0; i < path.size(); ++i) {
      auto item = text_object(path[i]);
      if (!item) return item;
      PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), item->release());
    }
    return tuple;
  });
}

PyObject* selector_labels(PyObject* self, void*) {
  return object_frame("Selector.labels", [&]() -> Result<Ref> {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return std::unexpected(Error::already_set());
    for (const auto& [name, value] : value_of(self).labels) {
      auto k = text_object(name);
      if (!k) return k;
      auto v = text_object(value);
      if (!v) return v;
      if (PyDict_SetItem(dict.get(), k->get(), v->get()) != 0) return std::unexpected(Error::already_set());
    }
    return dict;
  });
}

void selector_dealloc(PyObject* self) {
  dealloc_frame("Selector.tp_dealloc", [&] {
    delete std::exchange(reinterpret_cast<SelectorObject*>(self)->value, nullptr);
    free_instance(self);
  });
}

PyGetSetDef selector_getset[] = {
    {"path", selector_path, nullptr, nullptr, nullptr},
    {"labels", selector_labels, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot selector_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(selector_new)},
    {Py_tp_str, reinterpret_cast<void*>(selector_str)},
    {Py_tp_repr, reinterpret_cast<void*>(selector_repr)},
    {Py_tp_getset, selector_getset},
};

ClassCell selector_cell;

Result<PyObject*> create_selector_type() {
  return create_type({"ostrel.Selector", static_cast<int>(sizeof(SelectorObject)), "Selector(path, labels=None)\n--\n\n",
                      selector_dealloc, selector_slots});
}

}  // namespace

core::SecretSelectorV1 SelectorValue::as_record() const {
  core::SecretSelectorV1 record;
  for (const auto& segment : path) record.tuple.emplace_back(std::string_view(segment));
  for (const auto& [name, value] : labels) {
    record.labels.push_back(core::SecretLabelV1{cord::Text(std::string_view(name)), cord::Text(std::string_view(value))});
  }
  return record;
}

std::string SelectorValue::canonical_text() const { return frontend::selector::format(as_record()); }

bool SelectorValue::holds(const core::SecretSelectorV1& record) const {
  if (record.tuple.size() != path.size() || record.labels.size() != labels.size()) return false;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (record.tuple[i].view() != path[i]) return false;
  }
  auto label = record.labels.begin();
  for (const auto& [name, value] : labels) {
    if (label->key.view() != name || label->value.view() != value) return false;
    ++label;
  }
  return true;
}

Result<PyObject*> selector_type() { return class_cell_get(selector_cell, create_selector_type); }

const SelectorValue* selector_value(PyObject* object) {
  auto type = selector_type();
  if (!type) throw Panic("the Selector class could not be created");
  if (Py_TYPE(object) != reinterpret_cast<PyTypeObject*>(*type)) return nullptr;
  return &value_of(object);
}

Result<Ref> selector_into_object(SelectorValue value) {
  OSTREL_TRY_ASSIGN(auto type, selector_type());
  auto made = new_instance(reinterpret_cast<PyTypeObject*>(type));
  if (!made) return made;
  reinterpret_cast<SelectorObject*>(made->get())->value = new SelectorValue(std::move(value));
  return made;
}

}  // namespace ostrel::py
