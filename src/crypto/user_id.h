// The user id a pair of public keys names. It lives here, beside the identity that derives it,
// so the identity need not reach up into the core model. Pure function; safe from any thread.
#pragma once

#include <cstdint>
#include <span>

#include "errors/core_error.h"
#include "ids/identifiers.h"

namespace ostrel::crypto {

// `UserId::from_public_keys`: "ostrel.user.v1" over the signing key, then the HPKE key, as byte
// strings one after the other. Fails only when a key cannot be encoded.
CoreResult<UserId> user_id_from_public_keys(std::span<const std::uint8_t> signing_public_key,
                                            std::span<const std::uint8_t> hpke_public_key);

}  // namespace ostrel::crypto
