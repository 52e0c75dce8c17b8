// The invitation road from a workspace to a session (an invitation given, or named by the
// environment and read by the front end); the keychain road is keychain_road.h. Runs on the
// caller's thread and takes and releases the cross-process locks its steps need.
#pragma once

#include "core/invite.h"
#include "ops/session.h"
#include "store/cache_file.h"
#include "store/paths.h"

namespace ostrel::ops {

// Trust from the invitation (seeding the root's ratchet from its baseline the first time), then
// the invited identity from its seed, the vault opened (with the keychain's current user's
// verification cache) and the session established.
OpsResult<VaultSession> open_session_from_invite(const store::WorkspacePaths& paths, const core::Invite& invite);
// The same with another lookup of the current user (an empty one: no cache is used).
OpsResult<VaultSession> open_session_from_invite(const store::WorkspacePaths& paths, const core::Invite& invite,
                                                 const store::CurrentUserLookup& current_user);

}  // namespace ostrel::ops
