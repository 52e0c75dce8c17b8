// The key derivation behind unlocking a sealed identity, exposed for tests. Safe from any thread.
#pragma once

#include "keychain/unlock.h"

namespace ostrel::keychain {

// The key of `passphrase` (its bytes exactly, no normalisation) under `params`: checked first,
// then computed with no secret and no associated data.
KeychainResult<DerivedKey> derive_key(std::span<const std::uint8_t> passphrase, std::span<const std::uint8_t> salt,
                                      const KdfParamsV1& params, Argon2idRunner run = argon2id);

}  // namespace ostrel::keychain
