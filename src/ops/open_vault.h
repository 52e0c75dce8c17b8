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
#include "crypto/identity.h"
#include "errors/ops_error.h"
#include "ops/commit.h"
#include "store/cache_file.h"
#include "store/paths.h"
#include "store/vault_file.h"

namespace ostrel::ops {

// A state file as a session last read or wrote it: what it looked like, and the transaction file
// digest of its bytes.
struct SeenFile {
  platform::FileInfo info;
  HashValue digest;

  static SeenFile of(const store::FileContents& file) {
    return SeenFile{file.info, store::transaction_file_digest(file.bytes)};
  }
};

struct OpenVault {
  validate::VaultState state;     // derived from `records` against the remembered ratchet
  store::WorkspacePaths paths;    // never changed after opening
  // Where the vault file was found when the vault was opened (a link at vault.cord followed then,
  // never again): every later read and write of the vault goes through this folder handle, so the
  // file a commit replaces is the file the session read.
  store::FileLocation vault_location;
  // The exact contents of vault.cord that `records` came from: the before-image the next commit
  // requires to be still on disk. Shared because the decoded records view it.
  std::shared_ptr<const cord::Buffer> vault_bytes;
  // The ratchet of the vault's trusted root (with a pending transaction's after-image laid over
  // it); its trusted root names every state-directory path of the session.
  validate::RatchetState ratchet;
  // The signing key of the verification cache whose hashes were trusted at opening; cleared once
  // the session's identity is known.
  std::optional<std::vector<std::uint8_t>> cache_signer;
  // Present while an opening that trusted a cache has raised `ratchet` in memory only: what that
  // raise changed, to take it back should the records whose signatures were not checked turn out
  // to rest on another key's word. Cleared by save_verification_cache.
  std::optional<validate::RatchetState::Advance> unchecked_raise;
  // A transaction of this root still pending when the ratchet was last loaded; absent after every
  // commit.
  std::optional<PendingTransactionSummary> pending;
  store::VaultRecords records;  // decoded from `vault_bytes`, in the file's order
  // The user whose verification cache, trusted at opening, lists exactly the state's records;
  // save_verification_cache then leaves that file as it is. Cleared by it.
  std::optional<UserId> cache_unchanged_for;
  // Whether `ratchet` is the ratchet `state` was derived against, or that ratchet raised by the
  // state's own view, with nothing another process remembered meanwhile: a write may then derive
  // its new state from `state` by adding its record (validate::derive_with_added_record), taking
  // `ratchet` for the one `state` was derived against.
  bool ratchet_matches_state = false;
  // The state files as the session last read or wrote them, so that a refresh that finds them
  // unchanged (the same files, sizes and change times; every writer renames a new file into
  // place) need not read them again: what the vault file (whose bytes are `vault_bytes`) looked
  // like, and the ratchet file's look and its transaction file digest. Each is absent while
  // unknown.
  std::optional<platform::FileInfo> vault_seen;
  std::optional<SeenFile> ratchet_seen;

  // Reads and decodes the vault file, selects its root, completes interrupted writes of that
  // root, then under the root's shared state lock reads the file again, loads the ratchet (with
  // a pending journal laid over it) and derives the state, trusting the signatures the current
  // user's verification cache lists; finally raises the ratchet (advance_ratchet). When a cache
  // was trusted, the raise stays in memory and save_verification_cache writes it once it knows
  // whose key signed the cache, so no counter of an unchecked record is remembered on the word
  // of another key. A state with issues or conflicts is returned, not refused.
  // The cache is the one of the keychain's current user of the root.
  static OpsResult<OpenVault> open(const store::WorkspacePaths& paths);
  // The same with another lookup of the current user (an empty one: no cache is used).
  static OpsResult<OpenVault> open(const store::WorkspacePaths& paths, const store::CurrentUserLookup& current_user);

  // Raises the ratchet to the state's view in memory and, unless a transaction is pending, on
  // disk: the stored ratchet raised by this state (counters another process remembered
  // meanwhile are kept). A state lock another holder keeps to the end of the wait skips the
  // write.
  OpsResult<void> advance_ratchet();

  // Brings the vault up to date with the files: files the session has seen unchanged since are
  // not read again, and unchanged files only take over the pending summary; otherwise the new
  // file is decoded, must name the same root, and is derived against the loaded ratchet with the
  // current records' signatures taken as checked. Afterwards vault_seen and ratchet_seen describe
  // the files on disk. On failure nothing changes. REQUIRES: the root's state lock is held
  // exclusively, then the workspace lock.
  OpsResult<void> refresh_from_store();

  // Nothing when the state has no validation issues, else Validation with a copy of them.
  OpsResult<void> ensure_valid() const;
  // Nothing when `user` is a user of the state, or when the state has issues (ensure_valid
  // reports those); else NotMember.
  OpsResult<void> ensure_member(const UserId& user) const;

  const HashValue& root() const { return ratchet.trusted_root; }
};

// Validation with a copy of the state's issues.
OpsError validation_error(const validate::VaultState& state);

// The display handles, which the passphrase prompt shows and a resolved user carries: the
// vault-handle record whose normalised handle is smallest (the earliest in key order on a tie),
// as stored; none without vault handles.
const core::VaultHandleRecordV1* vault_handle_name(const validate::VaultState& state);
// The same among the user-handle records bound to `user`.
const core::UserHandleRecordV1* user_handle_name(const validate::VaultState& state, const UserId& user);

// Once the identity of a session is known: a cache trusted at opening that another key signed
// makes the state be derived again with every signature checked, from the ratchet as it was
// before the opening raised it (its failure and its issues are returned, and nothing is
// written); then the ratchet raise the opening deferred is written (advance_ratchet, whose
// failure is returned); then, for a state without issues, the cache of this identity is written
// (a write failure is ignored). Clears cache_signer and unchecked_raise.
OpsResult<void> save_verification_cache(OpenVault& open, const crypto::Identity& identity);

}  // namespace ostrel::ops
