// Matching a call's positional tuple and keyword dictionary against a parameter list, with the
// interpreter's usual TypeError wording, and the conversions of plain parameters (str, bool).
// REQUIRES (every function): the interpreter lock is held.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "py/error.h"
#include "py/python.h"

namespace ostrel::py {

struct Param {
  std::string_view name;
  bool required = false;
  bool keyword_only = false;
};

// Fills `out` (one slot per parameter) with borrowed references to the arguments given, null
// for those omitted. `function` names the callee in messages ("Vault.get").
Result<void> match_args(std::string_view function, std::span<const Param> params, PyObject* args,
                        PyObject* kwargs, std::span<PyObject*> out);

// The name of an object's type, for messages ("int"). An exception outside Exception raised on
// the way (by a metaclass) stays set, and Error::raise lets it stand over the error the message
// was meant for.
std::string type_name(PyObject* object);

// A `str` argument as UTF-8; anything else (or a text that cannot be encoded) is the TypeError
// "argument '<name>': ...".
Result<std::string> str_arg(PyObject* object, std::string_view name);
// Absent or None: nothing; else str_arg.
Result<std::optional<std::string>> optional_str_arg(PyObject* object, std::string_view name);
// True or False (or a boolean scalar of numpy, through its __bool__); else the TypeError.
Result<bool> bool_arg(PyObject* object, std::string_view name);

// The UTF-8 of a str, or nothing (the interpreter's error cleared) when it holds a lone
// surrogate. REQUIRES: `object` is a str.
std::optional<std::string_view> utf8_of(PyObject* object);

// "argument '<name>': <message>".
Error argument_error(std::string_view name, std::string_view message);
// After a failed call into the interpreter: argument_error with the current exception's text, the
// exception cleared; but an exception outside Exception stays set and is the error itself.
Error argument_error_from_exception(std::string_view name);

// After a failed call into the interpreter, before a converter reports a failure of its own (or
// none): clears the current exception and returns true when it is an ordinary one (an Exception),
// or when none is set. KeyboardInterrupt, SystemExit, GeneratorExit and the other exceptions
// outside Exception, raised by the caller's own objects, are not ours to replace: they stay set,
// and the result is false (report Error::already_set()).
[[nodiscard]] bool clear_ordinary_exception();

}  // namespace ostrel::py
