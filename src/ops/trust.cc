#include "ops/trust.h"

#include "core/validate/derive.h"
#include "core/validate/trust.h"
#include "crypto/identity.h"
#include "errors/try.h"
#include "ops/commit.h"
#include "ops/open_vault.h"
#include "ops/recovery.h"
#include "store/lock_file.h"
#include "store/ratchet_file.h"
#include "store/vault_file.h"

namespace ostrel::trust {

OpsResult<validate::RatchetState> seed_from_baseline(std::span<const core::VaultRecordV1> records,
                                                     const HashValue& root,
                                                     std::span<const core::RatchetRecordV1> baseline,
                                                     const UserId& invited) {
  validate::RatchetState ratchet = validate::RatchetState::from_baseline(root, baseline);
  OSTREL_TRY_ASSIGN(auto state, validate::derive_state_fresh(records, ratchet));
  // In this order, so a vault both rolled back and invalid reports the rollback.
  if (validate::has_rolled_back(state)) return std::unexpected(OpsError(OpsError::RolledBackPastBaseline));
  if (!state.issues.empty()) return std::unexpected(ops::validation_error(state));
  if (!state.users.contains(invited)) return std::unexpected(OpsError::claimed_identity_not_member(invited));
  ratchet.advance(state.ratchet);
  return ratchet;
}

OpsResult<void> establish_session_trust(const store::WorkspacePaths& paths, const core::Invite& invite) {
  OSTREL_TRY_ASSIGN(auto identity, crypto::Identity::from_seed(invite.seed().span()));
  OSTREL_TRY_ASSIGN(auto records, store::load_vault(paths));
  OSTREL_TRY_ASSIGN(const HashValue root, select_root(records.items()));
  if (root != invite.root()) return std::unexpected(OpsError(OpsError::InviteRootMismatch));
  // A journal left by a crash is completed first, as an opening would: otherwise the preflight
  // below would refuse every invitation of this root for ever.
  OSTREL_TRY(ops::recover_pending_journals(paths, root));

  OSTREL_TRY_ASSIGN(auto lock, store::StateLock::acquire_exclusive(paths, root.bytes));
  OSTREL_TRY(ops::preflight_write(paths, root));
  OSTREL_TRY_ASSIGN(auto remembered, store::load_ratchet(paths, root));
  if (remembered) return {};  // trusted before: the remembered state prevails over the baseline
  const core::RatchetBaselineV1* baseline = invite.baseline();
  if (baseline == nullptr) return std::unexpected(OpsError(OpsError::RollbackProtectionRequired));

  // The vault as it stands under the lock (recovery may have completed a write since the first
  // reading); its root must still be the invitation's.
  OSTREL_TRY_ASSIGN(auto current, store::load_vault(paths));
  OSTREL_TRY_ASSIGN(const HashValue current_root, select_root(current.items()));
  if (current_root != root) return std::unexpected(OpsError(OpsError::InviteRootMismatch));
  OSTREL_TRY_ASSIGN(const validate::RatchetState seeded,
                    seed_from_baseline(current.items(), root, baseline->records, identity.user_id));
  OSTREL_TRY(store::save_ratchet(paths, seeded));
  return {};
}

}  // namespace ostrel::trust
