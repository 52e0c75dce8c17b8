#include "py/auth.h"

#include <array>
#include <utility>

#include "errors/try.h"
#include "frontend/invite/environment.h"
#include "py/args.h"
#include "py/class_cell.h"
#include "py/frame.h"
#include "py/types.h"

namespace ostrel::py {
namespace {

struct AuthObject {
  PyObject_HEAD
  AuthChoice* choice;
};

const AuthChoice& choice_of(PyObject* self) { return *reinterpret_cast<AuthObject*>(self)->choice; }

Result<Ref> make_auth(PyTypeObject* cls, AuthChoice choice) {
  auto made = new_instance(cls);
  if (!made) return made;
  reinterpret_cast<AuthObject*>(made->get())->choice = new AuthChoice(std::move(choice));
  return made;
}

constexpr std::array<Param, 2> kKeychainParams{{{"user", false, false}, {"passphrase", false, true}}};
constexpr std::array<Param, 1> kInviteParams{{{"invite", true, false}}};
constexpr std::array<Param, 2> kEnvParams{{{"invite", false, true}, {"invite_file", false, true}}};

// Auth.from_keychain(user=None, *, passphrase=None)
Result<Ref> from_keychain(PyTypeObject* cls, const Given<2>& given) {
  OSTREL_TRY_ASSIGN(auto user, optional_str_arg(given[0], "user"));
  KeychainChoice choice{std::move(user), std::nullopt};
  if (given[1] != nullptr && given[1] != Py_None) {
    if (!PyUnicode_Check(given[1])) {
      return std::unexpected(
          argument_error("passphrase", "'" + type_name(given[1]) + "' object cannot be converted to 'str'"));
    }
    auto text = secret_utf8(given[1]);
    if (!text) return std::unexpected(argument_error("passphrase", "the text cannot be encoded as UTF-8"));
    choice.passphrase = std::move(*text);
  }
  return make_auth(cls, std::move(choice));
}

// Auth.from_invite(invite)
Result<Ref> from_invite(PyTypeObject* cls, const Given<1>& given) {
  OSTREL_TRY_ASSIGN(auto invite, extract_invite(given[0]));
  return make_auth(cls, std::move(invite));
}

// Auth.from_env(*, invite=..., invite_file=...)
Result<Ref> from_env(PyTypeObject* cls, const Given<2>& given) {
  EnvChoice choice{frontend::invite::kInviteVariable, frontend::invite::kInviteFileVariable};
  if (given[0] != nullptr) {
    OSTREL_TRY_ASSIGN(auto name, str_arg(given[0], "invite"));
    choice.invite = std::move(name);
  }
  if (given[1] != nullptr) {
    OSTREL_TRY_ASSIGN(auto name, str_arg(given[1], "invite_file"));
    choice.invite_file = std::move(name);
  }
  return make_auth(cls, std::move(choice));
}

PyObject* from_keychain_entry(PyObject* cls, PyObject* args, PyObject* kwargs) {
  return class_method_frame("Auth.from_keychain", kKeychainParams, cls, args, kwargs, from_keychain);
}

PyObject* from_invite_entry(PyObject* cls, PyObject* args, PyObject* kwargs) {
  return class_method_frame("Auth.from_invite", kInviteParams, cls, args, kwargs, from_invite);
}

PyObject* from_env_entry(PyObject* cls, PyObject* args, PyObject* kwargs) {
  return class_method_frame("Auth.from_env", kEnvParams, cls, args, kwargs, from_env);
}

PyObject* auth_repr(PyObject* self) {
  return object_frame("Auth.__repr__", [&]() -> Result<Ref> {
    static constexpr std::array<const char*, 3> kShown{"Auth.from_keychain(...)", "Auth.from_invite(...)",
                                                       "Auth.from_env(...)"};
    Ref text = Ref::steal(PyUnicode_FromString(kShown[choice_of(self).index()]));
    if (!text) return std::unexpected(Error::already_set());
    return text;
  });
}

void auth_dealloc(PyObject* self) {
  dealloc_frame("Auth.tp_dealloc", [&] {
    // The choice's secret buffers wipe themselves here.
    delete std::exchange(reinterpret_cast<AuthObject*>(self)->choice, nullptr);
    free_instance(self);
  });
}

PyMethodDef auth_methods[] = {
    {"from_keychain", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(from_keychain_entry)),
     METH_VARARGS | METH_KEYWORDS | METH_CLASS, "from_keychain($cls, user=None, *, passphrase=None)\n--\n\n"},
    {"from_invite", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(from_invite_entry)),
     METH_VARARGS | METH_KEYWORDS | METH_CLASS, "from_invite($cls, invite)\n--\n\n"},
    {"from_env", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(from_env_entry)),
     METH_VARARGS | METH_KEYWORDS | METH_CLASS, "from_env($cls, *, invite=..., invite_file=...)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot auth_slots[] = {
    {Py_tp_repr, reinterpret_cast<void*>(auth_repr)},
    {Py_tp_methods, auth_methods},
};

ClassCell auth_cell;

Result<PyObject*> create_auth_type() {
  return create_type({"ostrel.Auth", static_cast<int>(sizeof(AuthObject)), nullptr, auth_dealloc, auth_slots});
}

}  // namespace

AuthChoice clone_choice(const AuthChoice& choice) {
  if (const auto* k = std::get_if<KeychainChoice>(&choice)) {
    KeychainChoice copy{k->user, std::nullopt};
    if (k->passphrase) copy.passphrase = k->passphrase->clone();
    return copy;
  }
  if (const auto* i = std::get_if<InviteInput>(&choice)) return i->clone();
  return std::get<EnvChoice>(choice);
}

Result<PyObject*> auth_type() { return class_cell_get(auth_cell, create_auth_type); }

const AuthChoice* auth_choice(PyObject* object) {
  auto type = auth_type();
  if (!type) throw Panic("the Auth class could not be created");
  if (Py_TYPE(object) != reinterpret_cast<PyTypeObject*>(*type)) return nullptr;
  return &choice_of(object);
}

}  // namespace ostrel::py
