#include "frontend/user/select.h"

#include <utility>

#include "errors/try.h"
#include "frontend/invite/environment.h"
#include "keychain/current_user.h"

namespace ostrel::frontend {
namespace {

// The default user's id: the keychain's current user of `root`, else the environment's invitation.
FrontendResult<std::optional<UserId>> default_user_id(const HashValue& root) {
  OSTREL_TRY_ASSIGN(std::optional<UserId> current, keychain::current_user_id(root));
  if (current) return current;
  return invite::default_user_from_environment();
}

}  // namespace

FrontendResult<SelectedUser> select_user(const validate::VaultState& state, std::optional<std::string_view> text) {
  if (text) {
    OSTREL_TRY_ASSIGN(ResolvedUser user, resolve_user_text(state, *text));
    if (!state.root_key_id) return std::unexpected(FrontendError(OpsError::missing_effective_root()));
    return SelectedUser{std::move(user), *state.root_key_id, true};
  }
  if (!state.root_key_id) return std::unexpected(FrontendError(OpsError::missing_effective_root()));
  OSTREL_TRY_ASSIGN(const std::optional<UserId> id, default_user_id(*state.root_key_id));
  if (!id) return std::unexpected(FrontendError(FrontendError::NoDefaultIdentity));
  // The stored id as it is: written out as hex and read back as text, an id that is not 32 bytes
  // would turn into a prefix search or a handle and could name someone else.
  OSTREL_TRY_ASSIGN(ResolvedUser user, UserRef{*id}.resolve(state));
  return SelectedUser{std::move(user), *state.root_key_id, false};
}

}  // namespace ostrel::frontend
