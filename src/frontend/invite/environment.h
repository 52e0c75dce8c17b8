// The invitation named by the environment: the text in OSTREL_UNSAFE_INVITE or the file named by
// OSTREL_UNSAFE_INVITE_FILE, and the user it makes, the last fallback for the default user. Reads
// the environment (and the file) afresh on every call; nothing is cached. Safe from any thread as
// long as nothing changes the environment meanwhile.
#pragma once

#include <optional>

#include "core/invite.h"
#include "errors/frontend_error.h"
#include "ids/identifiers.h"

namespace ostrel::frontend::invite {

inline constexpr const char* kInviteVariable = "OSTREL_UNSAFE_INVITE";
inline constexpr const char* kInviteFileVariable = "OSTREL_UNSAFE_INVITE_FILE";

// Nothing when neither variable is set. OSTREL_UNSAFE_INVITE set to text that is not UTF-8 is
// FrontendError::EnvNotUtf8, before the second variable is looked at; both set is
// FrontendError::InviteSourceCount; otherwise parse() of the one that is set. A variable set to
// the empty text counts as set.
FrontendResult<std::optional<core::Invite>> from_environment();

// The user id of the environment's invitation, or nothing without one. The failures of
// from_environment, and FrontendError::Keychain when no identity derives from the seed.
FrontendResult<std::optional<UserId>> default_user_from_environment();

}  // namespace ostrel::frontend::invite
