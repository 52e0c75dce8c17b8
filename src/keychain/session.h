// The keychain's share of establishing a session on an opened vault: which request the prompt
// is shown for, loading and unlocking the identity, and requiring that it is the user asked for.
// The operations layer runs the steps around it (pending transactions, validity, the
// verification cache, membership). Safe from any thread; blocks while a console prompt waits.
#pragma once

#include "core/validate/state.h"
#include "crypto/identity.h"
#include "errors/ops_error.h"
#include "ids/identifiers.h"
#include "keychain/passphrase_keychain.h"
#include "store/paths.h"

namespace ostrel::keychain {

// The unlocked identity of `user` for the state's effective root (MissingEffectiveRoot without
// one). The prompt names the vault and the user by their smallest display handles, normalised.
// A keychain failure is OpsError::Keychain; an identity of another user is
// KeychainIdentityMismatch (the identity's id first), and that identity is wiped.
// REQUIRES: the state has been checked for validation issues.
OpsResult<crypto::Identity> unlock_session_identity(const validate::VaultState& state,
                                                    const store::WorkspacePaths& paths,
                                                    const PassphraseKeychain& keychain, const UserId& user,
                                                    UnlockPurpose purpose);

}  // namespace ostrel::keychain
