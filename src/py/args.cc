#include "py/args.h"

#include <vector>

#include "errors/try.h"

namespace ostrel::py {
namespace {

// Whether the current exception is one outside Exception (KeyboardInterrupt, SystemExit...).
bool extraordinary_exception_set() {
  return PyErr_Occurred() != nullptr && !PyErr_ExceptionMatches(PyExc_Exception);
}

std::string plural(std::size_t n, std::string_view word) {
  std::string out(word);
  if (n != 1) out += 's';
  return out;
}

// 'a', 'a' and 'b', 'a', 'b', and 'c': the interpreter's list of missing names.
std::string name_list(const std::vector<std::string_view>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

Error missing(std::string_view function, const std::vector<std::string_view>& names, std::string_view kind) {
  return Error::type_error(std::string(function) + "() missing " + std::to_string(names.size()) + " required " +
                           std::string(kind) + " " + plural(names.size(), "argument") + ": " + name_list(names));
}

}  // namespace

std::string type_name(PyObject* object) {
  Ref name = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
  if (name && PyUnicode_Check(name.get())) {
    if (auto text = utf8_of(name.get())) return std::string(*text);
  }
  // Left set when it is not an ordinary exception; the error this name was for gives way to it.
  (void)clear_ordinary_exception();
  return "object";
}

std::optional<std::string_view> utf8_of(PyObject* object) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(object, &size);
  if (data == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string_view(data, static_cast<std::size_t>(size));
}

bool clear_ordinary_exception() {
  if (extraordinary_exception_set()) return false;
  PyErr_Clear();
  return true;
}

Error argument_error(std::string_view name, std::string_view message) {
  return Error::type_error("argument '" + std::string(name) + "': " + std::string(message));
}

Error argument_error_from_exception(std::string_view name) {
  if (extraordinary_exception_set()) return Error::already_set();
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  Ref t = Ref::steal(type), v = Ref::steal(value), tb = Ref::steal(traceback);
  std::string text = "conversion failed";
  if (v) {
    // Its own __str__ may raise in turn: an ordinary exception there leaves the fallback text.
    Ref shown = Ref::steal(PyObject_Str(v.get()));
    if (shown) {
      if (auto utf8 = utf8_of(shown.get())) text = std::string(*utf8);
    } else if (!clear_ordinary_exception()) {
      return Error::already_set();
    }
  }
  return argument_error(name, text);
}

Result<void> match_args(std::string_view function, std::span<const Param> params, PyObject* args,
                        PyObject* kwargs, std::span<PyObject*> out) {
  for (auto& slot : out) slot = nullptr;
  std::size_t positional = 0, positional_required = 0;
  for (const Param& p : params) {
    if (p.keyword_only) continue;
    ++positional;
    if (p.required) positional_required = positional;
  }

  const Py_ssize_t given = args == nullptr ? 0 : PyTuple_Size(args);
  if (given < 0) return std::unexpected(Error::already_set());
  if (static_cast<std::size_t>(given) > positional) {
    // The interpreter's wording: "from 0 to 1 positional arguments", "1 positional argument".
    const bool range = positional_required != positional;
    std::string takes = range ? "from " + std::to_string(positional_required) + " to " + std::to_string(positional)
                              : std::to_string(positional);
    return std::unexpected(Error::type_error(std::string(function) + "() takes " + takes + " positional " +
                                             plural(range ? 2 : positional, "argument") + " but " + std::to_string(given) +
                                             (given == 1 ? " was" : " were") + " given"));
  }
  for (Py_ssize_t i = 0; i < given; ++i) out[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);

  if (kwargs != nullptr) {
    PyObject *key = nullptr, *value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!PyUnicode_Check(key)) return std::unexpected(Error::type_error("keywords must be strings"));
      auto name = utf8_of(key);
      std::size_t found = params.size();
      for (std::size_t i = 0; name && i < params.size(); ++i) {
        if (params[i].name == *name) found = i;
      }
      if (found == params.size()) {
        // The key may be a str subclass with a __repr__ of its own.
        Ref shown = Ref::steal(PyObject_Repr(key));
        if (!shown && !clear_ordinary_exception()) return std::unexpected(Error::already_set());
        auto text = shown ? utf8_of(shown.get()) : std::nullopt;
        return std::unexpected(Error::type_error(std::string(function) + "() got an unexpected keyword argument " +
                                                 std::string(text.value_or("?"))));
      }
      if (out[found] != nullptr) {
        return std::unexpected(Error::type_error(std::string(function) + "() got multiple values for argument '" +
                                                 std::string(params[found].name) + "'"));
      }
      out[found] = value;
    }
  }

  std::vector<std::string_view> missing_positional, missing_keyword;
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (params[i].required && out[i] == nullptr) {
      (params[i].keyword_only ? missing_keyword : missing_positional).push_back(params[i].name);
    }
  }
  if (!missing_positional.empty()) return std::unexpected(missing(function, missing_positional, "positional"));
  if (!missing_keyword.empty()) return std::unexpected(missing(function, missing_keyword, "keyword-only"));
  return {};
}

Result<std::string> str_arg(PyObject* object, std::string_view name) {
  if (!PyUnicode_Check(object)) {
    return std::unexpected(argument_error(name, "'" + type_name(object) + "' object cannot be converted to 'str'"));
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(object, &size);
  if (data == nullptr) return std::unexpected(argument_error_from_exception(name));
  return std::string(data, static_cast<std::size_t>(size));
}

Result<std::optional<std::string>> optional_str_arg(PyObject* object, std::string_view name) {
  if (object == nullptr || object == Py_None) return std::optional<std::string>();
  OSTREL_TRY_ASSIGN(auto text, str_arg(object, name));
  return std::optional<std::string>(std::move(text));
}

Result<bool> bool_arg(PyObject* object, std::string_view name) {
  if (object == Py_True) return true;
  if (object == Py_False) return false;
  // numpy's boolean scalars (numpy.bool_, numpy.bool) are accepted through __bool__.
  const std::string type = type_name(object);
  if (type == "bool_" || type == "bool") {
    Ref module = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__module__"));
    if (!module && !clear_ordinary_exception()) return std::unexpected(Error::already_set());
    auto text = module && PyUnicode_Check(module.get()) ? utf8_of(module.get()) : std::nullopt;
    if (text == "numpy") {
      const int truth = PyObject_IsTrue(object);
      if (truth < 0) return std::unexpected(argument_error_from_exception(name));
      return truth == 1;
    }
  }
  return std::unexpected(argument_error(name, "'" + type + "' object cannot be converted to 'bool'"));
}

}  // namespace ostrel::py
