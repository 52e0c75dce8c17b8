// Completing interrupted writes when a vault is opened: a transaction journal that names this
// vault file is rolled forward, otherwise a join-commit journal is applied; a journal of another
// vault file of the same root stays pending and its ratchet after-image is laid over the
// remembered ratchet. Not synchronised: recover_pending_journals takes the locks it needs.
#pragma once

#include <optional>

#include "core/validate/ratchet_state.h"
#include "errors/ops_error.h"
#include "ops/commit.h"
#include "store/file_location.h"
#include "store/paths.h"

namespace ostrel::ops {

// Rolls forward or applies what is pending for the root, writing the vault file at `vault_at`;
// BothRecoveryJournals when a transaction and a join-commit journal are both present, changing
// nothing.
// REQUIRES: no lock of the root is held.
OpsResult<void> recover_pending_journals(const store::WorkspacePaths& paths, const store::FileLocation& vault_at,
                                         const HashValue& root);
// The same with the paths' vault file located now.
OpsResult<void> recover_pending_journals(const store::WorkspacePaths& paths, const HashValue& root);

// The ratchet a vault is validated against, and the journal still pending for its root.
struct RatchetWithPending {
  validate::RatchetState ratchet;
  std::optional<PendingTransactionSummary> pending;
};

// The remembered ratchet, merged with the ratchet after-image of a pending journal (a missing
// ratchet file is then no error). Without a journal, a missing ratchet is MissingRatchetState.
// REQUIRES: the root's state lock is held (shared at opening, exclusively when refreshing).
OpsResult<RatchetWithPending> load_ratchet_with_pending(const store::WorkspacePaths& paths, const HashValue& root);
// The same for a remembered ratchet the caller loaded itself (none when it has no file).
OpsResult<RatchetWithPending> with_pending_journal(const store::WorkspacePaths& paths, const HashValue& root,
                                                   std::optional<validate::RatchetState> remembered);

}  // namespace ostrel::ops
