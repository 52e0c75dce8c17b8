#include "ops/commit.h"

#include <algorithm>
#include <utility>
#include <variant>

#include "core/hex.h"
#include "core/validate/trust.h"
#include "crypto/random.h"
#include "errors/text_form.h"
#include "errors/try.h"
#include "ops/commit_internal.h"
#include "ops/join_commit.h"
#include "platform/test_hooks.h"
#include "store/io.h"
#include "store/ratchet_file.h"
#include "store/vault_file.h"

namespace ostrel::ops {
namespace {

using store::FilePreconditionV1;
using store::TransactionV1;
using Bytes = std::vector<std::uint8_t>;

// A state file as it is now, read with the state files' limit, and which file it is; none when
// missing.
OpsResult<std::optional<store::FileContents>> read_state_file(const store::FileLocation& at) {
  OSTREL_TRY_ASSIGN(auto contents, store::read_optional_file(at, store::kMaxVaultFileBytes));
  return contents;
}

bool same_bytes(const std::optional<store::FileContents>& current, std::span<const std::uint8_t> want) {
  return current && std::ranges::equal(current->bytes, want);
}

std::optional<std::span<const std::uint8_t>> bytes_of(const std::optional<store::FileContents>& contents) {
  if (!contents) return std::nullopt;
  return std::span<const std::uint8_t>(contents->bytes);
}

std::optional<platform::FileId> id_of(const std::optional<store::FileContents>& contents) {
  if (!contents) return std::nullopt;
  return contents->info.id;
}

OpsResult<store::FileLocation> ratchet_location(const store::WorkspacePaths& paths, const HashValue& root) {
  OSTREL_TRY_ASSIGN(store::FileLocation at, store::locate_ratchet(paths, root));
  return at;
}


OpsError pending_error(std::span<const std::uint8_t> id, const std::optional<std::filesystem::path>& vault_path) {
  return OpsError::pending_transaction(core::hex_encode(id), vault_path ? errors::path_text(*vault_path)
                                                                       : std::string(OpsError::kAnotherPlatformPath));
}

// BothRecoveryJournals when a join-commit journal is pending, whatever else is.
OpsResult<void> refuse_join_commit(const store::WorkspacePaths& paths, const HashValue& root) {
  OSTREL_TRY_ASSIGN(const bool pending, join_commit_pending(paths, root));
  if (pending) return std::unexpected(OpsError(OpsError::BothRecoveryJournals));
  return {};
}

}  // namespace

OpsResult<void> written_or_changed(StoreResult<store::WriteOutcome> outcome, std::string_view file) {
  OSTREL_TRY_ASSIGN(const store::WriteOutcome done, std::move(outcome));
  if (done == store::WriteOutcome::TargetChanged) return std::unexpected(OpsError::precondition_changed(file));
  return {};
}

OpsResult<FileAction> check_transaction_file(std::optional<std::span<const std::uint8_t>> current,
                                             const FilePreconditionV1& before,
                                             std::span<const std::uint8_t> after_image) {
  const auto* digest = std::get_if<FilePreconditionV1::Digest>(&before.variant());
  if (!current) {
    if (digest == nullptr) return FileAction::Write;
    return std::unexpected(OpsError::recovery_mismatch());
  }
  const HashValue now = store::transaction_file_digest(*current);
  if (now == store::transaction_file_digest(after_image)) return FileAction::AlreadyWritten;
  if (digest != nullptr && now == digest->digest) return FileAction::Write;
  return std::unexpected(OpsError::recovery_mismatch());
}

bool matches_after_image(std::span<const std::uint8_t> current, std::span<const std::uint8_t> after_image) {
  return store::transaction_file_digest(current) == store::transaction_file_digest(after_image);
}

namespace {

// A vault after-image that did not adopt the records it was encoded from: decoding it gives the
// decoder's own error for a file that does not decode; one that does holds other records.
OpsError not_adopted(const std::filesystem::path& journal_path, std::span<const std::uint8_t> next_vault) {
  auto records = store::decode_vault_file(next_vault);
  if (!records) return StoreError::vault_invalid(journal_path, std::move(records).error());
  return OpsError::recovery_mismatch();
}

// The after-images' checks: the vault decodes (or was found to hold exactly the records it was
// encoded from, `adopted`) and its single self-signed root is `root`; the ratchet parses for that
// root. Returns the ratchet's state, except to a caller that holds the records (and the state they
// came from): it is only checked then. Errors name the journal.
OpsResult<std::optional<validate::RatchetState>> check_after_images(const std::filesystem::path& journal_path, const HashValue& root,
                                                     std::span<const std::uint8_t> next_vault,
                                                     std::span<const std::uint8_t> next_ratchet,
                                                     const AdoptedAfterImage* adopted) {
  HashValue found;
  if (adopted != nullptr) {
    if (adopted->bytes().data() != next_vault.data() || adopted->bytes().size() != next_vault.size()) {
      return std::unexpected(not_adopted(journal_path, next_vault));
    }
    OSTREL_TRY_ASSIGN(found, trust::select_root(adopted->records().items()));
  } else {
    auto records = store::decode_vault_file(next_vault);
    if (!records) return std::unexpected(StoreError::vault_invalid(journal_path, std::move(records).error()));
    OSTREL_TRY_ASSIGN(found, trust::select_root(records->items()));
  }
  if (found != root) return std::unexpected(OpsError::recovery_mismatch());
  if (adopted != nullptr) {
    // Only the check is wanted here: the caller holds the state the after-image was made from.
    OSTREL_TRY_ASSIGN(const HashValue named, store::check_ratchet_file(journal_path, next_ratchet));
    if (named != root) return std::unexpected(OpsError::recovery_mismatch());
    return std::nullopt;
  }
  OSTREL_TRY_ASSIGN(validate::RatchetState ratchet, store::parse_ratchet_file(journal_path, next_ratchet));
  if (ratchet.trusted_root != root) return std::unexpected(OpsError::recovery_mismatch());
  return ratchet;
}

// The last steps of rolling a journal forward, once both files hold their after-images.
OpsResult<void> finish(const std::filesystem::path& journal_path) {
  platform::step_reached(platform::step::kReadBack, journal_path);
  OSTREL_TRY(store::remove_file_if_present(journal_path));
  platform::step_reached(platform::step::kJournalDeleted, journal_path);
  return {};
}

// The identity of the file at `at` when it still holds `held`: unchanged since the caller read it
// (same file, size and change times) or, when that is not known, holding the same bytes read
// again now. None when it holds anything else, or nothing.
OpsResult<std::optional<platform::FileId>> still_held(const store::FileLocation& at, const HeldFile& held) {
  if (held.read_from) {
    if (const auto now = at.entry(); now && platform::same_version(*now, *held.read_from)) return now->id;
  }
  OSTREL_TRY_ASSIGN(const std::optional<store::FileContents> now, read_state_file(at));
  const bool same = held.digest ? now && store::transaction_file_digest(now->bytes) == *held.digest
                                : same_bytes(now, held.bytes);
  if (!same) return std::nullopt;
  return id_of(now);
}

}  // namespace

OpsResult<AdoptedAfterImage> adopt_after_image(const store::WorkspacePaths& paths, const HashValue& root,
                                               std::shared_ptr<const cord::Buffer> next_vault,
                                               store::VaultRecords& records) {
  const std::span<const std::uint8_t> bytes = *next_vault;
  if (!store::adopt_vault_file(bytes, next_vault, records)) {
    return std::unexpected(not_adopted(paths.transaction_path(root.bytes), bytes));
  }
  return AdoptedAfterImage(std::move(next_vault), records);
}

OpsResult<validate::RatchetState> load_verified_state(const TransactionV1& journal,
                                                      const store::WorkspacePaths& paths) {
  OSTREL_TRY_ASSIGN(std::optional<validate::RatchetState> ratchet,
                    check_after_images(paths.transaction_path(journal.trusted_root.bytes), journal.trusted_root,
                                       journal.next_vault_bytes, journal.next_ratchet_bytes, nullptr));
  return std::move(*ratchet);
}

OpsResult<void> commit_vault_write(const store::WorkspacePaths& paths, const store::FileLocation& vault_at,
                                   const HashValue& root, std::string_view operation_label, const HeldFile& held_vault,
                                   const HeldFile& expected_ratchet, std::span<const std::uint8_t> next_vault,
                                   std::span<const std::uint8_t> next_ratchet, const AdoptedAfterImage* adopted) {
  OSTREL_TRY(refuse_join_commit(paths, root));
  OSTREL_TRY_ASSIGN(const std::optional<TransactionV1> pending, store::load_transaction(paths, root));
  if (pending) return std::unexpected(pending_transaction_error_from_journal(*pending));

  OSTREL_TRY_ASSIGN(const auto vault_now, still_held(vault_at, held_vault));
  if (!vault_now) return std::unexpected(OpsError::precondition_changed(OpsError::kVaultFile));
  OSTREL_TRY_ASSIGN(const store::FileLocation ratchet_at, ratchet_location(paths, root));
  OSTREL_TRY_ASSIGN(const auto ratchet_now, still_held(ratchet_at, expected_ratchet));
  if (!ratchet_now) return std::unexpected(OpsError::precondition_changed(OpsError::kRatchetFile));

  OSTREL_TRY_ASSIGN(store::NativePathV1 vault_path, store::NativePathV1::from_path(paths.vault_file));
  // The journal's head: every field but the after-images, which are written from where they are.
  const TransactionV1 head{
      .id = crypto::random_key_vec(),
      .trusted_root = root,
      .vault_path = std::move(vault_path),
      .operation_label = std::string(operation_label),
      .vault_before = FilePreconditionV1::Digest{held_vault.digest ? *held_vault.digest
                                                 : store::transaction_file_digest(held_vault.bytes)},
      .ratchet_before = FilePreconditionV1::Digest{expected_ratchet.digest ? *expected_ratchet.digest
                                                   : store::transaction_file_digest(expected_ratchet.bytes)},
      .next_vault_bytes = {},
      .next_ratchet_bytes = {},
  };
  const std::filesystem::path journal_path = paths.transaction_path(root.bytes);
  OSTREL_TRY(check_after_images(journal_path, root, next_vault, next_ratchet, adopted));
  // The journal and its folder are synced before the ratchet file is touched: a crash from here on
  // finds the journal.
  OSTREL_TRY(store::write_transaction(paths, head, next_vault, next_ratchet));

  // Both files hold their before-images, so both are written, each only over the file checked;
  // each write's read-back confirms the file holds its after-image.
  OSTREL_TRY(written_or_changed(
      store::write_parsed_ratchet(ratchet_at, next_ratchet, store::ReplaceOnly::file(*ratchet_now)),
      OpsError::kRatchetFile));
  platform::step_reached(platform::step::kRatchetWritten, journal_path);
  OSTREL_TRY(written_or_changed(store::write_decoded_vault(vault_at, next_vault, store::ReplaceOnly::file(*vault_now)),
                                OpsError::kVaultFile));
  platform::step_reached(platform::step::kVaultWritten, journal_path);
  return finish(journal_path);
}

OpsResult<void> apply_transaction(const store::WorkspacePaths& paths, const store::FileLocation& vault_at,
                                  const TransactionV1& journal) {
  const std::filesystem::path journal_path = paths.transaction_path(journal.trusted_root.bytes);
  OSTREL_TRY_ASSIGN(const store::FileLocation ratchet_at, ratchet_location(paths, journal.trusted_root));

  // Both files are judged before either is written, and each is written only over the file judged.
  FileAction vault_action = FileAction::AlreadyWritten;
  FileAction ratchet_action = FileAction::AlreadyWritten;
  std::optional<platform::FileId> vault_judged;
  std::optional<platform::FileId> ratchet_judged;
  {
    OSTREL_TRY_ASSIGN(const std::optional<store::FileContents> vault_now, read_state_file(vault_at));
    OSTREL_TRY_ASSIGN(const std::optional<store::FileContents> ratchet_now, read_state_file(ratchet_at));
    OSTREL_TRY_ASSIGN(vault_action,
                      check_transaction_file(bytes_of(vault_now), journal.vault_before, journal.next_vault_bytes));
    OSTREL_TRY_ASSIGN(ratchet_action, check_transaction_file(bytes_of(ratchet_now), journal.ratchet_before,
                                                             journal.next_ratchet_bytes));
    vault_judged = id_of(vault_now);
    ratchet_judged = id_of(ratchet_now);
  }

  // The ratchet goes first: the vault file is never newer than what the ratchet remembers, so a
  // crash in between cannot leave a window in which putting the old vault back goes unnoticed.
  if (ratchet_action == FileAction::Write) {
    OSTREL_TRY(written_or_changed(store::write_ratchet_bytes(paths, journal.trusted_root, ratchet_at,
                                                             journal.next_ratchet_bytes,
                                                             store::ReplaceOnly::file_read(ratchet_judged)),
                                  OpsError::kRatchetFile));
  }
  platform::step_reached(platform::step::kRatchetWritten, journal_path);
  if (vault_action == FileAction::Write) {
    OSTREL_TRY(written_or_changed(store::write_vault(paths, vault_at, journal.next_vault_bytes,
                                                     store::ReplaceOnly::file_read(vault_judged)),
                                  OpsError::kVaultFile));
  }
  platform::step_reached(platform::step::kVaultWritten, journal_path);

  OSTREL_TRY_ASSIGN(const std::optional<store::FileContents> ratchet_after, read_state_file(ratchet_at));
  OSTREL_TRY_ASSIGN(const std::optional<store::FileContents> vault_after, read_state_file(vault_at));
  if (!same_bytes(ratchet_after, journal.next_ratchet_bytes) || !same_bytes(vault_after, journal.next_vault_bytes)) {
    return std::unexpected(OpsError::recovery_mismatch());
  }
  return finish(journal_path);
}

OpsResult<void> preflight_write(const store::WorkspacePaths& paths, const HashValue& root) {
  OSTREL_TRY(refuse_join_commit(paths, root));
  OSTREL_TRY_ASSIGN(const std::optional<TransactionV1> pending, store::load_transaction(paths, root));
  if (!pending) return {};
  OSTREL_TRY(load_verified_state(*pending, paths));
  return std::unexpected(pending_transaction_error_from_journal(*pending));
}

OpsError pending_transaction_error_from_journal(const TransactionV1& journal) {
  return pending_error(journal.id, journal.vault_path.to_path());
}

OpsError pending_transaction_error(const PendingTransactionSummary& summary) {
  return pending_error(summary.id, summary.vault_path);
}

}  // namespace ostrel::ops
