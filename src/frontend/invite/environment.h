// The invitation named by the environment: the text in one variable or the file named by another,
// read by one reader for every caller, each of which applies its own rules to what it finds; the
// front end's own reading of OSTREL_UNSAFE_INVITE / OSTREL_UNSAFE_INVITE_FILE, and the user that
// invitation makes, the last fallback for the default user. Reads the environment (and the file)
// afresh on every call; nothing is cached. Safe from any thread as long as nothing changes the
// environment meanwhile.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/invite.h"
#include "errors/frontend_error.h"
#include "ids/identifiers.h"
#include "platform/secret.h"

namespace ostrel::frontend::invite {

inline constexpr const char* kInviteVariable = "OSTREL_UNSAFE_INVITE";
inline constexpr const char* kInviteFileVariable = "OSTREL_UNSAFE_INVITE_FILE";

// What the two variables hold, as read once. The text carries the seed, so it lives in wiping
// memory; a variable set to the empty text counts as set.
struct InviteVariables {
  // The text variable's value when it is set and valid UTF-8.
  std::optional<platform::SecretBytes> text;
  // The text variable is set, but not to valid UTF-8; nothing of its value is kept.
  bool text_not_utf8 = false;
  // The file variable's value when it is set, as the system holds it (any bytes).
  std::optional<std::string> file;
};

// Reads the variables named `text_variable` and `file_variable` now. A name the system cannot look
// up (empty, or holding a NUL or "=") counts as a variable that is not set.
InviteVariables read_invite_variables(std::string_view text_variable, std::string_view file_variable);

// Nothing when neither variable is set. OSTREL_UNSAFE_INVITE set to text that is not UTF-8 is
// FrontendError::EnvNotUtf8, whatever the second variable holds; both set is
// FrontendError::InviteSourceCount; otherwise parse() of the one that is set.
FrontendResult<std::optional<core::Invite>> from_environment();

// The user id of the environment's invitation, or nothing without one. The failures of
// from_environment, and FrontendError::Keychain when no identity derives from the seed.
FrontendResult<std::optional<UserId>> default_user_from_environment();

}  // namespace ostrel::frontend::invite
