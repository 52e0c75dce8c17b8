// VaultSession: an opened vault bound to the identity that uses it, and the two roads that make
// one: the keychain's (authenticate_session: the identity unlocked from the keychain) and an
// invitation's (open_session_from_invite: trust from the invitation, the identity from its seed).
// The session owns the vault and the identity; the identity's seed and private keys live in
// memory that is wiped when the session goes. Moves, never copies. Not synchronised: its owner
// runs one operation on it at a time. The roads run on the caller's thread, take and release the
// cross-process locks their steps need, and block while a console prompt waits.
#pragma once

#include "core/invite.h"
#include "core/validate/state.h"
#include "crypto/identity.h"
#include "errors/ops_error.h"
#include "ids/identifiers.h"
#include "keychain/passphrase_keychain.h"
#include "keychain/unlock_purpose.h"
#include "ops/open_vault.h"
#include "store/cache_file.h"
#include "store/paths.h"

namespace ostrel::ops {

struct VaultSession {
  OpenVault open;
  crypto::Identity identity;

  VaultSession(OpenVault o, crypto::Identity id) : open(std::move(o)), identity(std::move(id)) {}
  VaultSession(VaultSession&&) noexcept = default;
  VaultSession& operator=(VaultSession&&) noexcept = default;
  VaultSession(const VaultSession&) = delete;
  VaultSession& operator=(const VaultSession&) = delete;

  // Binds `identity` to `open`: the state must have no issues, the ratchet raise an opening that
  // trusted a cache deferred and the identity's verification cache are written (after every
  // signature was checked again when another key signed that cache; see
  // save_verification_cache), and the identity must be a user of the state (else NotMember,
  // after the cache was written).
  static OpsResult<VaultSession> establish(OpenVault open, crypto::Identity identity);

  const validate::VaultState& state() const { return open.state; }
};

// The keychain road. In order: a writing purpose is refused while a transaction is pending; the
// state must have no issues; the identity of `user` is unlocked (unlock_session_identity); its
// verification cache is written (with the ratchet raise the opening deferred,
// save_verification_cache); it must be a member; the state (possibly derived again) must still
// have no issues.
OpsResult<VaultSession> authenticate_session(OpenVault open, const keychain::PassphraseKeychain& keychain,
                                             const UserId& user, keychain::UnlockPurpose purpose);

// The unlocked identity of `user` for the state's effective root (MissingEffectiveRoot without
// one). The prompt names the vault and the user by their smallest display handles, normalised.
// A keychain failure is OpsError::Keychain; an identity of another user is
// KeychainIdentityMismatch (the identity's id first), and that identity is wiped.
// REQUIRES: the state has been checked for validation issues.
OpsResult<crypto::Identity> unlock_session_identity(const validate::VaultState& state,
                                                    const store::WorkspacePaths& paths,
                                                    const keychain::PassphraseKeychain& keychain, const UserId& user,
                                                    keychain::UnlockPurpose purpose);

// The invitation road: trust from the invitation (trust::establish_session_trust, seeding the
// root's ratchet from its baseline the first time), then the invited identity from its seed, the
// vault opened (with the keychain's current user's verification cache) and the session
// established.
OpsResult<VaultSession> open_session_from_invite(const store::WorkspacePaths& paths, const core::Invite& invite);
// The same with another lookup of the current user (an empty one: no cache is used).
OpsResult<VaultSession> open_session_from_invite(const store::WorkspacePaths& paths, const core::Invite& invite,
                                                 const store::CurrentUserLookup& current_user);

}  // namespace ostrel::ops
