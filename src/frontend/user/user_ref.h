// Naming a user: a handle behind '@', the full id in hex (64 digits, optionally behind 0x), or a
// hex prefix of at least 8 digits, and their resolution against a validated state. Pure functions
// over values; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/records.h"
#include "core/validate/state.h"
#include "errors/frontend_error.h"
#include "errors/ops_error.h"
#include "ids/identifiers.h"

namespace ostrel::frontend {

// A user as resolved: the id, and its normalised display handle when it has one.
struct ResolvedUser {
  UserId user_id;
  std::optional<std::string> handle;
  friend bool operator==(const ResolvedUser&, const ResolvedUser&) = default;
};

// The session's user: resolved, under the state's effective root, and whether the caller named it.
struct SelectedUser {
  ResolvedUser user;
  HashValue root;
  bool named = false;
  friend bool operator==(const SelectedUser&, const SelectedUser&) = default;
};

// A parsed reference: an id (exactly 32 bytes) or a normalised, valid handle.
struct UserRef {
  struct Handle {
    std::string handle;
    friend bool operator==(const Handle&, const Handle&) = default;
  };
  std::variant<UserId, Handle> ref;
  friend bool operator==(const UserRef&, const UserRef&) = default;

  // '@' and a handle; else 32 bytes of hex are an id; anything else is judged as a handle, so
  // only the handle rule is ever reported.
  static FrontendResult<UserRef> parse(std::string_view text);
  // Drops one leading '@', normalises, and requires a valid handle (InvalidUserHandle holding the
  // text as given).
  static FrontendResult<std::string> parse_handle(std::string_view text);
  // A lower-case hex prefix: at least 2 bytes of text, an optional "0x" (small x only), then at
  // least 8 hex digits of either case. Never fails: anything else is none.
  static std::optional<std::string> parse_id_prefix(std::string_view text);

  // The user in `state`: a handle through its handle record (UserHandleNotFound,
  // UserHandleDangling when its user is not in effect), an id exactly (UserMissing).
  OpsResult<ResolvedUser> resolve(const validate::VaultState& state) const;
};

// The first user in ascending id order after `after` (from the start without one) whose
// lower-case hex id starts with `prefix`.
std::optional<UserId> next_user_with_id_prefix(const validate::VaultState& state, std::string_view prefix,
                                               const UserId* after = nullptr);

// Text as a caller writes it: an id prefix of fewer than 64 digits (not behind '@') is searched
// (NoUserMatches, UserAmbiguous, both naming the text); everything else is parsed. Then resolved.
FrontendResult<ResolvedUser> resolve_user_text(const validate::VaultState& state, std::string_view text);

}  // namespace ostrel::frontend
