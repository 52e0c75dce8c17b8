#include "py/exceptions.h"

#include <array>
#include <utility>

#include "core/validate/state.h"
#include "py/class_cell.h"
#include "py/messages.h"

namespace ostrel::py {
namespace {

std::array<ClassCell, 6> exception_cells;
ClassCell panic_cell;

template <std::size_t I>
Result<PyObject*> create_exception() {
  static_assert(static_cast<std::size_t>(kExceptionClasses[I].cls) == I);
  PyObject* base = I == 0 ? PyExc_Exception : exception_type(ErrorClass::OstrelError);
  const std::string qualified = "ostrel." + std::string(kExceptionClasses[I].name);
  PyObject* made = PyErr_NewExceptionWithDoc(qualified.c_str(), nullptr, base, nullptr);
  if (made == nullptr) throw Panic("Failed to initialize new exception type.");
  return made;
}

Result<PyObject*> create_panic_exception() {
  PyObject* made = PyErr_NewExceptionWithDoc("ostrel.PanicException",
                                             "An internal failure of the ostrel module.",
                                             PyExc_BaseException, nullptr);
  if (made == nullptr) throw Panic("Failed to initialize new exception type.");
  return made;
}

constexpr std::array<ClassCreator, 6> kCreators{create_exception<0>, create_exception<1>, create_exception<2>,
                                                create_exception<3>, create_exception<4>, create_exception<5>};

PyObject* get_or_panic(ClassCell& cell, ClassCreator create) {
  auto got = class_cell_get(cell, create);
  if (!got) throw Panic("Failed to initialize new exception type.");
  return *got;
}

}  // namespace

PyObject* exception_type(ErrorClass cls) {
  const auto i = static_cast<std::size_t>(cls);
  if (i >= exception_cells.size()) throw Panic("not an exception class of the module");
  return get_or_panic(exception_cells[i], kCreators[i]);
}

PyObject* panic_exception_type() { return get_or_panic(panic_cell, create_panic_exception); }

Error classify_text(std::string text) {
  if (text.find("validation failed") != std::string::npos) return Error::validation(std::move(text));
  for (std::string_view word : {"keychain", "identity", "default Ostrel identity", "ratchet state"}) {
    if (text.find(word) != std::string::npos) return Error::identity(std::move(text));
  }
  return Error::ostrel(std::move(text));
}

Error secret_op_error(const OpsError& error, std::string_view selector) {
  switch (error.kind()) {
    case OpsError::Keychain: return Error::identity(error.message());
    case OpsError::Validation: return Error::validation(error.message());
    case OpsError::SecretMissing: return Error::not_found(messages::secret_not_found(selector));
    case OpsError::NotDecryptable: {
      const auto status = error.field<validate::SecretStatus>(0);
      if (status == validate::SecretStatus::NotEncryptedForReader || status == validate::SecretStatus::Unauthorized) {
        return Error::permission_denied(messages::not_authorized(selector));
      }
      break;
    }
    case OpsError::NotWritable: return Error::permission_denied(messages::not_authorized(selector));
    case OpsError::SecretConflicted: return Error::conflict(messages::secret_conflicted(selector));
    default: break;
  }
  return classify_text(error.message());
}

}  // namespace ostrel::py
