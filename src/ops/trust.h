// Trust from an invitation: the first time a root is met through an invitation, the ratchet
// remembered for it is seeded from the invitation's baseline, and only for a vault that has not
// been rolled back past that baseline, has no validation issues and counts the invited identity
// as a member. (Which root a vault file names is trust::select_root, core/validate/trust.h.)
// Safe from any thread; the root's state lock serialises it across processes.
#pragma once

#include <span>

#include "core/invite.h"
#include "core/ratchet_records.h"
#include "core/records.h"
#include "core/validate/ratchet_state.h"
#include "errors/ops_error.h"
#include "store/paths.h"

namespace ostrel::trust {

// The ratchet a baseline seeds for `root`, raised to the state `records` give against it, once
// the checks pass in this order: RolledBackPastBaseline, Validation, ClaimedIdentityNotMember.
// Every signature is checked.
OpsResult<validate::RatchetState> seed_from_baseline(std::span<const core::VaultRecordV1> records,
                                                     const HashValue& root,
                                                     std::span<const core::RatchetRecordV1> baseline,
                                                     const UserId& invited);

// Creates the remembered ratchet of the vault's root from the invitation when none exists: the
// vault's root must be the invitation's (InviteRootMismatch); a journal left by a crash is
// completed first; then, under the root's exclusive state lock, a pending journal refuses, a
// remembered ratchet prevails (success, nothing written), an invitation without a baseline is
// RollbackProtectionRequired, and otherwise the ratchet seed_from_baseline gives is saved.
OpsResult<void> establish_session_trust(const store::WorkspacePaths& paths, const core::Invite& invite);

}  // namespace ostrel::trust
