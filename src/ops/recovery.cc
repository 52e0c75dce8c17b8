#include "ops/recovery.h"

#include <utility>

#include "errors/try.h"
#include "ops/join_commit.h"
#include "store/lock_file.h"
#include "store/ratchet_file.h"
#include "store/transaction_file.h"
#include "store/vault_file.h"

namespace ostrel::ops {
namespace {

using store::TransactionV1;

// Whether a journal whose after-images check out names this vault file.
OpsResult<bool> rolls_forward_here(const store::WorkspacePaths& paths, const TransactionV1& journal) {
  OSTREL_TRY(load_verified_state(journal, paths));
  OSTREL_TRY_ASSIGN(const bool here, journal.is_for_vault(paths.vault_file));
  return here;
}

}  // namespace

OpsResult<void> recover_pending_journals(const store::WorkspacePaths& paths, const HashValue& root) {
  OSTREL_TRY_ASSIGN(const store::FileLocation vault_at, store::locate_vault(paths));
  return recover_pending_journals(paths, vault_at, root);
}

OpsResult<void> recover_pending_journals(const store::WorkspacePaths& paths, const store::FileLocation& vault_at,
                                         const HashValue& root) {
  // Look.
  {
    OSTREL_TRY_ASSIGN(store::StateLock shared, store::StateLock::acquire_shared(paths, root.bytes));
    OSTREL_TRY_ASSIGN(const std::optional<TransactionV1> journal, store::load_transaction(paths, root));
    OSTREL_TRY_ASSIGN(const bool join_commit, join_commit_pending(paths, root));
    if (journal && join_commit) return std::unexpected(OpsError(OpsError::BothRecoveryJournals));
  }
  // Decide.
  {
    OSTREL_TRY_ASSIGN(store::StateLock shared, store::StateLock::acquire_shared(paths, root.bytes));
    OSTREL_TRY_ASSIGN(const std::optional<TransactionV1> journal, store::load_transaction(paths, root));
    if (!journal) {
      shared.release();
      return recover_join_commit(paths, vault_at, root);
    }
    OSTREL_TRY_ASSIGN(const bool here, rolls_forward_here(paths, *journal));
    if (!here) return {};
  }
  // Roll forward. The shared lock is never upgraded in place, so the journal is looked at again
  // under the write locks: another opening may have rolled it forward meanwhile.
  OSTREL_TRY_ASSIGN(store::StateLock exclusive, store::StateLock::acquire_exclusive(paths, root.bytes));
  OSTREL_TRY_ASSIGN(store::WorkspaceLock workspace_lock, store::WorkspaceLock::acquire(paths));
  OSTREL_TRY_ASSIGN(const std::optional<TransactionV1> journal, store::load_transaction(paths, root));
  if (!journal) return {};
  OSTREL_TRY_ASSIGN(const bool here, rolls_forward_here(paths, *journal));
  if (!here) return {};
  return apply_transaction(paths, vault_at, *journal);
}

OpsResult<RatchetWithPending> load_ratchet_with_pending(const store::WorkspacePaths& paths, const HashValue& root) {
  OSTREL_TRY_ASSIGN(std::optional<validate::RatchetState> remembered, store::load_ratchet(paths, root));
  return with_pending_journal(paths, root, std::move(remembered));
}

OpsResult<RatchetWithPending> with_pending_journal(const store::WorkspacePaths& paths, const HashValue& root,
                                                   std::optional<validate::RatchetState> remembered) {
  OSTREL_TRY_ASSIGN(const std::optional<TransactionV1> journal, store::load_transaction(paths, root));
  if (!journal) {
    if (!remembered) return std::unexpected(OpsError::missing_ratchet_state(paths.ratchet_path(root.bytes)));
    return RatchetWithPending{std::move(*remembered), std::nullopt};
  }
  OSTREL_TRY_ASSIGN(const validate::RatchetState after_image, load_verified_state(*journal, paths));
  validate::RatchetState base = remembered ? std::move(*remembered) : validate::RatchetState::fresh(root);
  OSTREL_TRY(base.merge(after_image));
  return RatchetWithPending{std::move(base),
                            PendingTransactionSummary{journal->id, journal->vault_path.to_path()}};
}

}  // namespace ostrel::ops
