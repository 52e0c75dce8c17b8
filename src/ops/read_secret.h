// Reading a secret: a selector becomes the decrypted value and fields for the session's
// identity. Works on the state held in memory; touches no file and takes no lock. Pure functions
// of their arguments apart from the decryption; safe from any thread on a session nobody
// changes meanwhile.
#pragma once

#include <string>
#include <string_view>

#include "core/seal.h"
#include "core/validate/state.h"
#include "crypto/identity.h"
#include "errors/ops_error.h"
#include "ops/session.h"

namespace ostrel::ops {

// The secret the selector names, decrypted for the session's identity: SecretMissing,
// SecretConflicted, or NotDecryptable with the status when it is not readable.
OpsResult<core::SecretRead> read_secret(const VaultSession& session, const core::SecretSelectorV1& selector);
// The same against any state and identity (the write path reads a freshly refreshed state).
OpsResult<core::SecretRead> read_secret(const validate::VaultState& state, const crypto::Identity& identity,
                                        const core::SecretSelectorV1& selector);

// The second half of a read, once the secret is known to be readable: the current value record
// opened for `identity`.
OpsResult<core::SecretRead> open_secret(const validate::VaultState& state, const crypto::Identity& identity,
                                        const core::SecretSelectorV1& selector);

// A field key given by a caller in the form stored keys have (NFC, as selectors are brought to),
// so that it finds the stored field and never adds a second entry under an equivalent key. Text
// that is not UTF-8 is left as it is: it names no field, and writing it is refused.
std::string caller_field_key(std::string_view key);

// The field of a read that a caller's key names, or null.
const core::SecretFieldEntryV1* find_field(const core::SecretRead& read, std::string_view caller_key);

}  // namespace ostrel::ops
