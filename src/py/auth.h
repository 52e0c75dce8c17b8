// The Python class Auth: where a Vault's identity comes from (the keychain, an invitation given
// directly, or one named by environment variables). Its class methods only record the choice;
// nothing is read or checked until a Vault is built from it. Immutable after creation; secrets it
// holds (passphrase, invitation) live in wiping memory and are wiped when the Auth is freed.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "platform/secret.h"
#include "py/convert.h"
#include "py/error.h"
#include "py/python.h"

namespace ostrel::py {

struct KeychainChoice {
  std::optional<std::string> user;
  std::optional<platform::SecretBytes> passphrase;
};
struct EnvChoice {
  std::string invite;       // the variable holding an invitation text
  std::string invite_file;  // the variable holding an invitation file's path
};
using AuthChoice = std::variant<KeychainChoice, InviteInput, EnvChoice>;

// A copy of the choice that owns its own secret buffers.
AuthChoice clone_choice(const AuthChoice& choice);

Result<PyObject*> auth_type();
// The choice held by an Auth instance, or null when `object` is no Auth.
const AuthChoice* auth_choice(PyObject* object);

}  // namespace ostrel::py
