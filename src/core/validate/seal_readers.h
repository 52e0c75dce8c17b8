// Sealing a secret value to the readers a validated state gives for its selector. Pure
// functions; safe from any thread.
#pragma once

#include "core/seal.h"
#include "core/validate/state.h"

namespace ostrel::validate {

// The state's effective root and every active user who may read `selector`, ascending by id,
// each with the HPKE public key of its user record. The key spans point into `state`.
core::SealRecipients seal_recipients(const VaultState& state, const core::SecretSelectorV1& selector);

// SealedPayloadV1::seal to the readers `state` gives for the context's selector.
OpsResult<core::SealedPayloadV1> seal_for_state(const VaultState& state, const core::SecretWriteContext& context,
                                                const core::SecretValueV1& value);

}  // namespace ostrel::validate
