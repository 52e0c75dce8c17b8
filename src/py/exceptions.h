// The module's exception classes (created once per process, safe against concurrent first use)
// and the two rules that turn the lower layers' errors into them: the secret-operation mapping,
// by the kind of the operation error, and the text classification, by words in the message.
// The class getters need the interpreter lock; the rules are plain functions, safe from any
// thread without it.
#pragma once

#include <string>
#include <string_view>

#include "errors/ops_error.h"
#include "py/error.h"
#include "py/python.h"

namespace ostrel::py {

// The six exception classes in the order the module publishes them, OstrelError (the base of the
// others, itself derived from Exception) first.
struct ExceptionClass {
  std::string_view name;
  ErrorClass cls;
};
inline constexpr ExceptionClass kExceptionClasses[] = {
    {"OstrelError", ErrorClass::OstrelError},         {"NotFound", ErrorClass::NotFound},
    {"PermissionDenied", ErrorClass::PermissionDenied}, {"ConflictError", ErrorClass::ConflictError},
    {"ValidationError", ErrorClass::ValidationError}, {"IdentityError", ErrorClass::IdentityError},
};

// The class object of one of the six exception classes, created on first use. REQUIRES: the
// interpreter lock is held; it is held again on return. A refusal of the interpreter is a Panic.
PyObject* exception_type(ErrorClass cls);
// PanicException, derived from BaseException, not exported by the module.
PyObject* panic_exception_type();

// The text classification: "validation failed" → ValidationError; else "keychain", "identity",
// "default Ostrel identity" or "ratchet state" → IdentityError; else OstrelError. The message is
// the text unchanged.
Error classify_text(std::string text);

// The secret-operation mapping of an operation error, `selector` being the canonical text of the
// selector the caller named.
Error secret_op_error(const OpsError& error, std::string_view selector);

}  // namespace ostrel::py
