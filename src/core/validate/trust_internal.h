// One step of the root search, exposed for tests. Pure function; safe from any thread.
#pragma once

#include "core/validate/trust.h"

namespace ostrel::validate {

// The root identity of `record` when it is a VaultRoot record whose user id its own keys give
// and whose signature verifies under its own key; none when it is not. With
// `signature_known_valid` the signature is taken as valid without verifying it. Fails only when
// the user id, the signed bytes or the key id cannot be derived.
CoreResult<std::optional<RootIdentity>> self_signed_root(const core::VaultRecordV1& record,
                                                         bool signature_known_valid);

}  // namespace ostrel::validate
