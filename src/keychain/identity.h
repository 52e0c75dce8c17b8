// Identities the keychain hands out, derived from a master seed. Pure functions; safe from any
// thread.
#pragma once

#include <cstdint>
#include <span>

#include "crypto/identity.h"
#include "platform/secret.h"
#include "errors/keychain_error.h"
#include "ids/identifiers.h"

namespace ostrel::keychain {

// What a master seed names: a copy of the seed and the user id of the identity derived from it.
struct SeedUser {
  platform::SecretArray<crypto::kMasterSeedBytes> seed;
  UserId user_id;
};

// Derives the identity of `master_seed` (Identity::from_seed) and keeps only a copy of its seed
// and its user id; the derived keys are wiped before this returns. A seed that is not 32 bytes,
// or any other derivation failure, is KeychainError::Crypto.
KeychainResult<SeedUser> user_id_from_seed(std::span<const std::uint8_t> master_seed);

}  // namespace ostrel::keychain
