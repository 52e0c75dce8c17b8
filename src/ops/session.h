// VaultSession: an opened vault bound to the identity that uses it. The session owns both; the
// identity's seed and private keys live in memory that is wiped when the session goes. Moves,
// never copies. Not synchronised: its owner runs one operation on it at a time.
#pragma once

#include "crypto/identity.h"
#include "ops/open_vault.h"

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

}  // namespace ostrel::ops
