// Vault(path=".ostrel", *, auth=None): the arguments, the front end's road to a session for the
// Auth choice (keychain, invitation, invitation named by the environment; frontend/session/open.h)
// with its failures made the module's exceptions, and the refusal of a vault with unresolved
// conflicts. Runs with the interpreter lock held from start to end, also while the keychain
// prompts for a passphrase.
#pragma once

#include <array>

#include "ops/session.h"
#include "py/error.h"
#include "py/python.h"

namespace ostrel::py {

// The established session of the constructor's arguments as its frame matched them: `path`, then
// `auth` (null when omitted).
Result<ops::VaultSession> open_vault_session(const std::array<PyObject*, 2>& given);

}  // namespace ostrel::py
