// OpenVault: a workspace's vault file read from disk, decoded, tied to its single self-signed
// root and validated against the ratchet remembered for that root, kept together with the exact
// bytes it came from. Not synchronised: one operation uses it at a time (the session's owner
// serialises them); between operations it holds no lock and no open file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/validate/ratchet_state.h"
#include "core/validate/state.h"
#include "errors/ops_error.h"
#include "store/paths.h"
#include "store/vault_file.h"

namespace ostrel::ops {

struct OpenVault {
  validate::VaultState state;     // derived from `records` against the remembered ratchet
  store::WorkspacePaths paths;    // never changed after opening
  // The exact contents of vault.cord that `records` came from: the before-image the next commit
  // requires to be still on disk. Shared because the decoded records view it.
  std::shared_ptr<const std::vector<std::uint8_t>> vault_bytes;
  // The ratchet of the vault's trusted root (with a pending transaction's after-image laid over
  // it); its trusted root names every state-directory path of the session.
  validate::RatchetState ratchet;
  // The signing key of the verification cache whose hashes were trusted at opening; cleared once
  // the session's identity is known.
  std::optional<std::vector<std::uint8_t>> cache_signer;
  store::VaultRecords records;  // decoded from `vault_bytes`

  // Nothing when the state has no validation issues, else Validation with a copy of them.
  OpsResult<void> ensure_valid() const;
  // Nothing when `user` is a user of the state, or when the state has issues (ensure_valid
  // reports those); else NotMember.
  OpsResult<void> ensure_member(const UserId& user) const;
};

// Validation with a copy of the state's issues.
OpsError validation_error(const validate::VaultState& state);

}  // namespace ostrel::ops
