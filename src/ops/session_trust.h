// Trust from an invitation: the first time a root is met through an invitation, the ratchet
// remembered for it is seeded from the invitation's baseline, and only for a vault that has not
// been rolled back past that baseline, has no validation issues and counts the invited identity
// as a member. Safe from any thread; the root's state lock serialises it across processes.
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

}  // namespace ostrel::trust
