// Choosing the session's user when a vault is opened with the keychain: the user the caller
// named, else the keychain's current user of the vault's root, else the user of an invitation
// named by the environment. Reads the keychain (under its lock) and the environment; safe from
// any thread while nothing changes the environment.
#pragma once

#include <optional>
#include <string_view>

#include "core/validate/state.h"
#include "errors/frontend_error.h"
#include "frontend/user/user_ref.h"

namespace ostrel::frontend {

// Text given: resolve_user_text, then the state must have an effective root. No text: the root
// first (MissingEffectiveRoot before the keychain is asked), then the default user. A default
// user is resolved as exactly the id stored (never as a prefix or a handle): one who is not in
// effect is UserMissing with that id. Neither source: NoDefaultIdentity.
FrontendResult<SelectedUser> select_user(const validate::VaultState& state, std::optional<std::string_view> text);

}  // namespace ostrel::frontend
