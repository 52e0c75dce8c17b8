#include "ops/join_commit.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "core/validate/trust.h"
#include "errors/try.h"
#include "ops/commit.h"
#include "platform/test_hooks.h"
#include "store/io.h"
#include "store/lock_file.h"
#include "store/ratchet_file.h"
#include "store/vault_file.h"

namespace ostrel::ops {
namespace {

using store::JoinCommitJournalV1;
using Bytes = std::vector<std::uint8_t>;

OpsError conflict() { return OpsError(OpsError::EnrollmentConflict); }

// The root's journal, none when there is none: magic, payload and root checked.
OpsResult<std::optional<JoinCommitJournalV1>> read_journal(const store::WorkspacePaths& paths, const HashValue& root) {
  OSTREL_TRY_ASSIGN(const std::optional<Bytes> bytes, store::read_join_commit_file(paths, root));
  if (!bytes) return std::nullopt;
  if (!store::has_join_commit_magic(*bytes)) return std::unexpected(conflict());
  OSTREL_TRY_ASSIGN(JoinCommitJournalV1 journal, store::decode_join_commit_file(*bytes));
  if (journal.trusted_root != root) return std::unexpected(conflict());
  return journal;
}

// Whether `file`'s join-commit digest is `before` or that of `after_image`.
bool holds_before_or_after(std::span<const std::uint8_t> file, const HashValue& before,
                           std::span<const std::uint8_t> after_image) {
  const HashValue now = store::join_commit_digest(file);
  return now == before || now == store::join_commit_digest(after_image);
}

// The remembered ratchet of the journal's root and its file; a missing file is MissingRatchetState.
OpsResult<store::LoadedRatchet> load_remembered(const store::FileLocation& at, const HashValue& root) {
  OSTREL_TRY_ASSIGN(std::optional<store::LoadedRatchet> ratchet, store::load_ratchet(at, root));
  if (!ratchet) return std::unexpected(OpsError::missing_ratchet_state(at.requested()));
  return std::move(*ratchet);
}


// The after-images must be what the journal says they are before either replaces a file: a vault
// whose single self-signed root is the journal's root, and a ratchet of that root that the
// ratchet encoder writes back byte for byte (the saved file is its re-encoding).
bool after_images_fit(const JoinCommitJournalV1& journal, const validate::RatchetState& next_ratchet) {
  auto records = store::decode_vault_file(journal.next_vault_bytes);
  if (!records) return false;
  auto root = trust::select_root(records->items());
  if (!root || *root != journal.trusted_root || next_ratchet.trusted_root != journal.trusted_root) return false;
  auto encoded = store::encode_ratchet_file(next_ratchet);
  return encoded && std::ranges::equal(*encoded, journal.next_ratchet_bytes);
}

}  // namespace

OpsResult<bool> join_commit_pending(const store::WorkspacePaths& paths, const HashValue& root) {
  OSTREL_TRY_ASSIGN(const std::optional<Bytes> bytes, store::read_join_commit_file(paths, root));
  return bytes.has_value();
}

OpsResult<void> recover_join_commit(const store::WorkspacePaths& paths, const store::FileLocation& vault_at,
                                    const HashValue& root) {
  // A damaged journal is reported without waiting for any lock.
  OSTREL_TRY_ASSIGN(const std::optional<JoinCommitJournalV1> seen, read_journal(paths, root));
  if (!seen) return {};
  OSTREL_TRY_ASSIGN(store::StateLock state_lock, store::StateLock::acquire_exclusive(paths, root.bytes));
  OSTREL_TRY_ASSIGN(store::WorkspaceLock workspace_lock, store::WorkspaceLock::acquire(paths));
  // Another opening may have applied it between the read and the locks: what counts is what the
  // journal holds now.
  OSTREL_TRY_ASSIGN(const std::optional<JoinCommitJournalV1> journal, read_journal(paths, root));
  if (!journal) return {};
  // On every way out the workspace lock is released first, then the state lock.
  return apply_join_commit(paths, vault_at, *journal);
}

OpsResult<void> apply_join_commit(const store::WorkspacePaths& paths, const store::FileLocation& vault_at,
                                  const JoinCommitJournalV1& journal) {
  const HashValue& root = journal.trusted_root;
  const std::filesystem::path journal_path = paths.join_commit_path(root.bytes);
  OSTREL_TRY_ASSIGN(const store::FileLocation ratchet_at, store::locate_ratchet(paths, root));

  // Each file is written only over the file checked here.
  platform::FileId vault_checked;
  platform::FileId ratchet_checked;
  {
    OSTREL_TRY_ASSIGN(const store::FileContents vault_now, store::read_vault_bytes(vault_at));
    if (!holds_before_or_after(vault_now.bytes, journal.vault_before_hash, journal.next_vault_bytes)) {
      return std::unexpected(conflict());
    }
    vault_checked = vault_now.info.id;
  }
  OSTREL_TRY_ASSIGN(const store::LoadedRatchet remembered, load_remembered(ratchet_at, root));
  ratchet_checked = remembered.file.info.id;
  OSTREL_TRY_ASSIGN(const cord::Buffer remembered_bytes, store::encode_ratchet_file(remembered.state));
  if (!holds_before_or_after(remembered_bytes, journal.ratchet_before_hash, journal.next_ratchet_bytes)) {
    return std::unexpected(conflict());
  }
  OSTREL_TRY_ASSIGN(const validate::RatchetState next_ratchet,
                    store::parse_ratchet_file(journal_path, journal.next_ratchet_bytes));
  if (!after_images_fit(journal, next_ratchet)) return std::unexpected(conflict());

  // The after-image is the re-encoding of next_ratchet (after_images_fit), so it is written as it is.
  OSTREL_TRY(written_or_changed(store::write_ratchet_bytes(paths, root, ratchet_at, journal.next_ratchet_bytes,
                                                           store::ReplaceOnly::file(ratchet_checked)),
                                OpsError::kRatchetFile));
  platform::step_reached(platform::step::kRatchetWritten, journal_path);
  OSTREL_TRY(written_or_changed(
      store::write_vault(paths, vault_at, journal.next_vault_bytes, store::ReplaceOnly::file(vault_checked)),
      OpsError::kVaultFile));
  platform::step_reached(platform::step::kVaultWritten, journal_path);

  OSTREL_TRY_ASSIGN(const store::LoadedRatchet ratchet_after, load_remembered(ratchet_at, root));
  OSTREL_TRY_ASSIGN(const store::FileContents vault_after, store::read_vault_bytes(vault_at));
  if (!std::ranges::equal(vault_after.bytes, journal.next_vault_bytes)) return std::unexpected(conflict());
  OSTREL_TRY_ASSIGN(const cord::Buffer ratchet_after_bytes, store::encode_ratchet_file(ratchet_after.state));
  if (!std::ranges::equal(ratchet_after_bytes, journal.next_ratchet_bytes)) return std::unexpected(conflict());
  platform::step_reached(platform::step::kReadBack, journal_path);

  OSTREL_TRY(store::remove_file_if_present(journal_path));
  platform::step_reached(platform::step::kJournalDeleted, journal_path);
  return {};
}

}  // namespace ostrel::ops
