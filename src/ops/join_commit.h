// Applying a join-commit journal found in a root's state folder: checked against the vault and
// ratchet files' before-states, its after-images checked to be a vault and a ratchet of the
// journal's root, both files written (ratchet first), confirmed, and the journal deleted. Not
// synchronised: recover_join_commit takes the write locks itself, apply_join_commit runs under
// its caller's.
#pragma once

#include "errors/ops_error.h"
#include "store/file_location.h"
#include "store/join_commit_file.h"
#include "store/paths.h"

namespace ostrel::ops {

// Whether the root's join-commit journal exists; a journal that cannot be read (a directory, a
// file above the limit) is a store error. The content is not looked at.
OpsResult<bool> join_commit_pending(const store::WorkspacePaths& paths, const HashValue& root);

// Applies and deletes the root's join-commit journal when there is one. Takes the root's state
// lock exclusively, then the workspace lock, and reads the journal again under them: one that
// another process applied meanwhile is done. The vault file is the one at `vault_at`.
// REQUIRES: no lock of the root is held.
OpsResult<void> recover_join_commit(const store::WorkspacePaths& paths, const store::FileLocation& vault_at,
                                    const HashValue& root);

// Checks, writes, verifies and deletes. A vault or ratchet file matching neither its before-digest
// nor its after-image, or after-images that are not a vault and a ratchet of the journal's root,
// are EnrollmentConflict with nothing written; a file whose name holds another file just before
// its rename than the one checked is PreconditionChanged.
// REQUIRES: both locks are held.
OpsResult<void> apply_join_commit(const store::WorkspacePaths& paths, const store::FileLocation& vault_at,
                                  const store::JoinCommitJournalV1& journal);

}  // namespace ostrel::ops
