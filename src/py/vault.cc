#include "py/vault.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <type_traits>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "errors/try.h"
#include "frontend/selector/grammar.h"
#include "ops/list_secrets.h"
#include "ops/read_secret.h"
#include "ops/session.h"
#include "ops/write_secret.h"
#include "py/args.h"
#include "py/class_cell.h"
#include "py/convert.h"
#include "py/exceptions.h"
#include "py/frame.h"
#include "py/messages.h"
#include "py/selector.h"
#include "py/test_hooks.h"
#include "py/types.h"
#include "py/vault_open.h"

namespace ostrel::py {
namespace {

// The session mutex: one operation on the session at a time. Poisoned for good when an
// internal failure unwinds out of an operation that held it.
struct SessionCell {
  explicit SessionCell(ops::VaultSession s) : session(std::move(s)) {}
  std::mutex mutex;
  bool poisoned = false;
  ops::VaultSession session;
};

using BorrowCount = std::atomic<std::size_t>;
constexpr std::size_t kExclusive = std::numeric_limits<std::size_t>::max();

struct VaultObject {
  PyObject_HEAD
  SessionCell* cell;
  BorrowCount borrow;  // calls holding the object: n shared, or kExclusive
};

VaultObject* vault_of(PyObject* self) { return reinterpret_cast<VaultObject*>(self); }

// A shared hold on the object for the length of one method call; kept while the interpreter
// lock is released, so it is counted atomically.
class SharedHold {
 public:
  static Result<SharedHold> take(VaultObject* v) {
    std::size_t seen = v->borrow.load(std::memory_order_relaxed);
    do {
      if (seen == kExclusive) return std::unexpected(Error::runtime(std::string(messages::kAlreadyMutablyBorrowed)));
    } while (!v->borrow.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire, std::memory_order_relaxed));
    return SharedHold(v);
  }
  SharedHold(SharedHold&& other) noexcept : v_(std::exchange(other.v_, nullptr)) {}
  SharedHold(const SharedHold&) = delete;
  SharedHold& operator=(const SharedHold&) = delete;
  SharedHold& operator=(SharedHold&&) = delete;
  ~SharedHold() {
    if (v_ != nullptr) v_->borrow.fetch_sub(1, std::memory_order_release);
  }

 private:
  explicit SharedHold(VaultObject* v) : v_(v) {}
  VaultObject* v_;
};

// Sets the poison flag when a failure unwinds through it while the mutex is held.
class PoisonOnUnwind {
 public:
  explicit PoisonOnUnwind(SessionCell& cell) : cell_(cell), unwinding_(std::uncaught_exceptions()) {}
  ~PoisonOnUnwind() {
    if (std::uncaught_exceptions() > unwinding_) cell_.poisoned = true;
  }
  PoisonOnUnwind(const PoisonOnUnwind&) = delete;
  PoisonOnUnwind& operator=(const PoisonOnUnwind&) = delete;

 private:
  SessionCell& cell_;
  int unwinding_;
};


// The locked section: release the interpreter lock, take the session mutex, refuse a poisoned
// session, run `op` on the session; then release the mutex (poisoning it when a failure unwinds)
// and take the interpreter lock back. `op` returns a Result and never touches Python.
template <class Op>
auto locked(VaultObject* v, const core::SecretSelectorV1* selector, Op&& op) -> decltype(op(v->cell->session)) {
  AllowThreads released;
  SessionCell& cell = *v->cell;
  std::unique_lock lock(cell.mutex);
  if (cell.poisoned) return std::unexpected(Error::ostrel(std::string(messages::kPoisoned)));
  PoisonOnUnwind poison(cell);
  if (selector != nullptr && !selector->tuple.empty()) test_failure_trigger(selector->tuple.front().view());
  return std::forward<Op>(op)(cell.session);
}

// A method's frame (py/frame.h) that also takes the shared hold on the object for the call.
template <std::size_t N, class Body>
PyObject* vault_method(std::string_view entry, const std::array<Param, N>& params, PyObject* self, PyObject* args,
                       PyObject* kwargs, Body&& body) {
  return method_frame(entry, params, self, args, kwargs, [&](PyObject* object, Given<N>& given) -> Result<Ref> {
    OSTREL_TRY_ASSIGN(auto hold, SharedHold::take(vault_of(object)));
    return body(vault_of(object), given);
  });
}

Result<Ref> none() { return Ref::borrow(Py_None); }

// A value as bytes, or as str when it is strict UTF-8 (else `not_utf8`).
Result<Ref> value_object(std::span<const std::uint8_t> bytes, bool as_bytes, std::string_view not_utf8) {
  const auto* data = reinterpret_cast<const char*>(bytes.data());
  const auto size = static_cast<Py_ssize_t>(bytes.size());
  Ref made = Ref::steal(as_bytes ? PyBytes_FromStringAndSize(data, size) : PyUnicode_DecodeUTF8(data, size, "strict"));
  if (made) return made;
  if (as_bytes || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return std::unexpected(Error::already_set());
  PyErr_Clear();
  return std::unexpected(Error::ostrel(std::string(not_utf8)));
}

Error no_such_field(std::string_view selector, std::string_view key) {
  return Error::not_found(FrontendError::no_such_field(std::string(selector), std::string(key)).message());
}

// `Vault::locked_read`: the secret under the session mutex, its failure mapped.
Result<core::SecretRead> locked_read(VaultObject* v, const SelectorArg& selector) {
  return locked(v, &selector.selector, [&](ops::VaultSession& s) -> Result<core::SecretRead> {
    auto got = ops::read_secret(s, selector.selector);
    if (!got) return std::unexpected(secret_op_error(got.error(), selector.text));
    return std::move(*got);
  });
}

// A write under the session mutex: `op` (session, selector) → OpsResult of what was written, or of
// a field edit's outcome; None, or the mapped failure. The operation takes the converted selector
// itself, not a copy; its text stays here for the messages.
template <class Op>
Result<Ref> locked_write(VaultObject* v, SelectorArg selector, std::string_view key, Op&& op) {
  auto done = locked(v, &selector.selector, [&](ops::VaultSession& s) -> Result<void> {
    auto written = op(s, std::move(selector.selector));
    if (!written) return std::unexpected(secret_op_error(written.error(), selector.text));
    if constexpr (std::is_same_v<std::decay_t<decltype(*written)>, ops::FieldEdit>) {
      if (*written == ops::FieldEdit::NoSuchField) return std::unexpected(no_such_field(selector.text, key));
    }
    return {};
  });
  if (!done) return std::unexpected(std::move(done).error());
  return none();
}

constexpr std::array<Param, 2> kGetParams{{{"selector", true, false}, {"as_bytes", false, true}}};
constexpr std::array<Param, 3> kGetFieldParams{{{"selector", true, false}, {"key", true, false}, {"as_bytes", false, true}}};
constexpr std::array<Param, 2> kSetParams{{{"selector", true, false}, {"value", true, false}}};
constexpr std::array<Param, 1> kDeleteParams{{{"selector", true, false}}};
constexpr std::array<Param, 3> kSetFieldParams{{{"selector", true, false}, {"key", true, false}, {"value", true, false}}};
constexpr std::array<Param, 2> kDeleteFieldParams{{{"selector", true, false}, {"key", true, false}}};
constexpr std::array<Param, 1> kListParams{{{"selector", false, false}}};
constexpr std::array<Param, 2> kNewParams{{{"path", false, false}, {"auth", false, true}}};
constexpr std::array<Param, 3> kExitParams{{{"_exc_type", true, false}, {"_exc_value", true, false}, {"_traceback", true, false}}};

Result<bool> as_bytes_arg(PyObject* given) { return given == nullptr ? Result<bool>(false) : bool_arg(given, "as_bytes"); }

PyObject* vault_get(PyObject* self, PyObject* args, PyObject* kwargs) {
  return vault_method("Vault.get", kGetParams, self, args, kwargs, [](VaultObject* v, auto& given) -> Result<Ref> {
    OSTREL_TRY_ASSIGN(auto as_bytes, as_bytes_arg(given[1]));
    OSTREL_TRY_ASSIGN(auto selector, extract_selector(given[0]));
    OSTREL_TRY_ASSIGN(auto secret, locked_read(v, selector));
    return value_object(secret.value.span(), as_bytes, messages::kSecretNotUtf8);
  });
}

PyObject* vault_fields(PyObject* self, PyObject* args, PyObject* kwargs) {
  return vault_method("Vault.fields", kGetParams, self, args, kwargs, [](VaultObject* v, auto& given) -> Result<Ref> {
    OSTREL_TRY_ASSIGN(auto as_bytes, as_bytes_arg(given[1]));
    OSTREL_TRY_ASSIGN(auto selector, extract_selector(given[0]));
    OSTREL_TRY_ASSIGN(auto secret, locked_read(v, selector));
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return std::unexpected(Error::already_set());
    for (const auto& field : secret.fields) {
      Ref key = Ref::steal(PyUnicode_FromStringAndSize(field.key.data(), static_cast<Py_ssize_t>(field.key.size())));
      if (!key) return std::unexpected(Error::already_set());
      auto value = value_object(field.value.span(), as_bytes, messages::kFieldNotUtf8);
      if (!value) return value;
      if (PyDict_SetItem(dict.get(), key.get(), value->get()) != 0) return std::unexpected(Error::already_set());
    }
    return dict;
  });
}

PyObject* vault_get_field(PyObject* self, PyObject* args, PyObject* kwargs) {
  return vault_method("Vault.get_field", kGetFieldParams, self, args, kwargs,
                      [](VaultObject* v, auto& given) -> Result<Ref> {
                        OSTREL_TRY_ASSIGN(auto key, str_arg(given[1], "key"));
                        OSTREL_TRY_ASSIGN(auto as_bytes, as_bytes_arg(given[2]));
                        OSTREL_TRY_ASSIGN(auto selector, extract_selector(given[0]));
                        OSTREL_TRY_ASSIGN(auto secret, locked_read(v, selector));
                        const core::SecretFieldEntryV1* field = ops::find_field(secret, key);
                        if (field == nullptr) return std::unexpected(no_such_field(selector.text, key));
                        return value_object(field->value.span(), as_bytes, messages::kFieldNotUtf8);
                      });
}

PyObject* vault_set(PyObject* self, PyObject* args, PyObject* kwargs) {
  return vault_method("Vault.set", kSetParams, self, args, kwargs, [](VaultObject* v, auto& given) -> Result<Ref> {
    OSTREL_TRY_ASSIGN(auto selector, extract_selector(given[0]));
    OSTREL_TRY_ASSIGN(auto value, extract_secret_value(given[1]));
    return locked_write(v, std::move(selector), {}, [&](ops::VaultSession& s, core::SecretSelectorV1 named) {
      return ops::set_secret(s, std::move(named), value.span());
    });
  });
}

PyObject* vault_delete(PyObject* self, PyObject* args, PyObject* kwargs) {
  return vault_method("Vault.delete", kDeleteParams, self, args, kwargs, [](VaultObject* v, auto& given) -> Result<Ref> {
    OSTREL_TRY_ASSIGN(auto selector, extract_selector(given[0]));
    return locked_write(v, std::move(selector), {}, [](ops::VaultSession& s, core::SecretSelectorV1 named) {
      return ops::delete_secret(s, std::move(named));
    });
  });
}

PyObject* vault_set_field(PyObject* self, PyObject* args, PyObject* kwargs) {
  return vault_method("Vault.set_field", kSetFieldParams, self, args, kwargs,
                      [](VaultObject* v, auto& given) -> Result<Ref> {
                        OSTREL_TRY_ASSIGN(auto key, str_arg(given[1], "key"));
                        OSTREL_TRY_ASSIGN(auto selector, extract_selector(given[0]));
                        OSTREL_TRY_ASSIGN(auto value, extract_secret_value(given[2]));
                        return locked_write(v, std::move(selector), key,
                                            [&](ops::VaultSession& s, core::SecretSelectorV1 named) {
                                              return ops::set_secret_field(s, std::move(named), key, value.span());
                                            });
                      });
}

PyObject* vault_delete_field(PyObject* self, PyObject* args, PyObject* kwargs) {
  return vault_method("Vault.delete_field", kDeleteFieldParams, self, args, kwargs,
                      [](VaultObject* v, auto& given) -> Result<Ref> {
                        OSTREL_TRY_ASSIGN(auto key, str_arg(given[1], "key"));
                        OSTREL_TRY_ASSIGN(auto selector, extract_selector(given[0]));
                        return locked_write(v, std::move(selector), key,
                                            [&](ops::VaultSession& s, core::SecretSelectorV1 named) {
                                              return ops::delete_secret_field(s, std::move(named), key);
                                            });
                      });
}

struct Listed {
  SelectorValue value;
  std::string text;  // canonical, the sort key
};

PyObject* vault_list(PyObject* self, PyObject* args, PyObject* kwargs) {
  return vault_method("Vault.list", kListParams, self, args, kwargs, [](VaultObject* v, auto& given) -> Result<Ref> {
    std::optional<SelectorArg> filter;
    if (given[0] != nullptr && given[0] != Py_None) {
      OSTREL_TRY_ASSIGN(auto selector, extract_selector(given[0]));
      filter = std::move(selector);
    }
    const core::SecretSelectorV1* filter_selector = filter ? &filter->selector : nullptr;
    auto listed = locked(v, filter_selector, [&](ops::VaultSession& s) -> Result<std::vector<Listed>> {
      std::vector<Listed> listed;
      for (const core::SecretSelectorV1& selector : ops::list_secrets(s, filter_selector)) {
        SelectorValue value;
        for (const auto& segment : selector.tuple) value.path.push_back(segment.str());
        for (const auto& label : selector.labels) value.labels.insert_or_assign(label.key.str(), label.value.str());
        listed.push_back({std::move(value), frontend::selector::format(selector)});
      }
      // Ordered by the bytes of the canonical text; equal texts keep the listing's order.
      std::stable_sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) { return a.text < b.text; });
      return listed;
    });
    OSTREL_TRY_ASSIGN(auto rows, std::move(listed));
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(rows.size())));
    if (!list) return std::unexpected(Error::already_set());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      auto item = selector_into_object(std::move(rows[i].value));
      if (!item) return item;
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item->release());
    }
    return list;
  });
}

PyObject* vault_enter(PyObject* self, PyObject*) {
  return object_frame("Vault.__enter__", [&]() -> Result<Ref> {
    VaultObject* v = vault_of(self);
    std::size_t idle = 0;
    if (!v->borrow.compare_exchange_strong(idle, kExclusive, std::memory_order_acquire)) {
      return std::unexpected(Error::runtime(std::string(messages::kAlreadyBorrowed)));
    }
    Ref same = Ref::borrow(self);
    v->borrow.store(0, std::memory_order_release);
    return same;
  });
}

PyObject* vault_exit(PyObject* self, PyObject* args, PyObject* kwargs) {
  return vault_method("Vault.__exit__", kExitParams, self, args, kwargs,
                      [](VaultObject*, auto&) -> Result<Ref> { return Ref::borrow(Py_False); });
}

// Vault(path=".ostrel", *, auth=None)
Result<Ref> open_vault(PyTypeObject* type, const Given<2>& given) {
  OSTREL_TRY_ASSIGN(auto session, open_vault_session(given));
  auto made = new_instance(type);
  if (!made) return made;  // the session is dropped, its secrets wiped
  VaultObject* v = vault_of(made->get());
  new (&v->borrow) BorrowCount(0);
  v->cell = new SessionCell(std::move(session));
  return made;
}

PyObject* vault_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return new_frame("Vault.__new__", kNewParams, type, args, kwargs, open_vault);
}

void vault_dealloc(PyObject* self) {
  dealloc_frame("Vault.tp_dealloc", [&] {
    // The session's identity wipes its seed and keys as it goes.
    delete std::exchange(vault_of(self)->cell, nullptr);
    vault_of(self)->borrow.~BorrowCount();
    free_instance(self);
  });
}

template <auto Fn>
PyCFunction as_cfunction() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Fn));
}

constexpr int kArgs = METH_VARARGS | METH_KEYWORDS;

PyMethodDef vault_methods[] = {
    {"get", as_cfunction<vault_get>(), kArgs, "get($self, selector, *, as_bytes=False)\n--\n\n"},
    {"set", as_cfunction<vault_set>(), kArgs, "set($self, selector, value)\n--\n\n"},
    {"delete", as_cfunction<vault_delete>(), kArgs, "delete($self, selector)\n--\n\n"},
    {"fields", as_cfunction<vault_fields>(), kArgs,
     "fields($self, selector, *, as_bytes=False)\n--\n\n"
     "The secret's additional key\u2192value fields as a dict. Values come back as `str` (UTF-8) or,\n"
     "with `as_bytes=True`, as `bytes`."},
    {"get_field", as_cfunction<vault_get_field>(), kArgs,
     "get_field($self, selector, key, *, as_bytes=False)\n--\n\n"
     "One additional field's value, as `str` (UTF-8) or, with `as_bytes=True`, as `bytes`."},
    {"set_field", as_cfunction<vault_set_field>(), kArgs,
     "set_field($self, selector, key, value)\n--\n\n"
     "Insert or replace one additional field, preserving the primary value and other fields."},
    {"delete_field", as_cfunction<vault_delete_field>(), kArgs,
     "delete_field($self, selector, key)\n--\n\n"
     "Remove one additional field, preserving the primary value and other fields."},
    {"list", as_cfunction<vault_list>(), kArgs, "list($self, selector=None)\n--\n\n"},
    {"__enter__", as_cfunction<vault_enter>(), METH_NOARGS, "__enter__($self)\n--\n\n"},
    {"__exit__", as_cfunction<vault_exit>(), kArgs, "__exit__($self, _exc_type, _exc_value, _traceback)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot vault_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(vault_new)},
    {Py_tp_methods, vault_methods},
};

ClassCell vault_cell;

Result<PyObject*> create_vault_type() {
  return create_type({"ostrel.Vault", static_cast<int>(sizeof(VaultObject)), "Vault(path=..., *, auth=None)\n--\n\n",
                      vault_dealloc, vault_slots});
}

}  // namespace

Result<PyObject*> vault_type() { return class_cell_get(vault_cell, create_vault_type); }

}  // namespace ostrel::py
