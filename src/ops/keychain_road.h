// The keychain road to a session: the opened vault checked, the requested user's identity
// unlocked from the keychain (prompting on the console unless a passphrase was given), its
// verification cache written, and its membership required. Safe from any thread; blocks while a
// prompt waits.
#pragma once

#include "keychain/passphrase_keychain.h"
#include "ops/session.h"

namespace ostrel::ops {

// In order: a writing purpose is refused while a transaction is pending; the state must have no
// issues; the identity of `user` is unlocked (and must be that user); its verification cache is
// written (with the ratchet raise the opening deferred, save_verification_cache); it must be a
// member; the state (possibly derived again) must still have no issues.
OpsResult<VaultSession> authenticate_session(OpenVault open, const keychain::PassphraseKeychain& keychain,
                                             const UserId& user, keychain::UnlockPurpose purpose);

}  // namespace ostrel::ops
