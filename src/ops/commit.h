// Committing a vault write through the transaction journal: check that the vault and ratchet
// files still hold what the caller read, write the journal (synced, its folder too), then the
// ratchet file, then the vault file, confirm both and delete the journal. A crash at any point
// leaves either the old files and no journal, or a journal the next opening rolls forward. Also
// the roll-forward itself, the check of a journal's after-images, the preflight that refuses a
// write while a journal is pending, and the pending-transaction error. Not synchronised: callers
// hold the locks each function names.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "core/validate/ratchet_state.h"
#include "errors/ops_error.h"
#include "store/file_location.h"
#include "store/io.h"
#include "store/paths.h"
#include "store/transaction_file.h"
#include "store/vault_file.h"

namespace ostrel::ops {

// What an opened vault keeps of a transaction journal still pending for its root.
struct PendingTransactionSummary {
  std::vector<std::uint8_t> id;
  std::optional<std::filesystem::path> vault_path;  // none for another platform's path
  friend bool operator==(const PendingTransactionSummary&, const PendingTransactionSummary&) = default;
};

// A state file as a caller holds it: its bytes and, when the caller read them itself under the
// locks it still holds, what the file looked like then; a file that still looks so is taken as
// still holding them without being read again.
struct HeldFile {
  std::span<const std::uint8_t> bytes;
  std::optional<platform::FileInfo> read_from;
  // The bytes' transaction file digest, when the caller kept only that: `bytes` is then empty.
  std::optional<HashValue> digest;

  static HeldFile by_digest(HashValue d, std::optional<platform::FileInfo> r) {
    HeldFile held({}, r);
    held.digest = std::move(d);
    return held;
  }

  HeldFile(std::span<const std::uint8_t> b, std::optional<platform::FileInfo> r = std::nullopt)  // NOLINT: bytes alone
      : bytes(b), read_from(r) {}
  template <class Bytes>
    requires std::convertible_to<const Bytes&, std::span<const std::uint8_t>>
  HeldFile(const Bytes& b) : bytes(b) {}  // NOLINT: bytes alone
};

// A new vault file and the records it was encoded from, found in it: the records view its bytes
// (store::adopt_vault_file), and whatever they viewed before can go. Only adopt_after_image makes
// one, so a commit given it need not decode the file again.
class AdoptedAfterImage {
 public:
  std::span<const std::uint8_t> bytes() const { return *bytes_; }
  const store::VaultRecords& records() const { return *records_; }

 private:
  friend OpsResult<AdoptedAfterImage> adopt_after_image(const store::WorkspacePaths& paths, const HashValue& root,
                                                        std::shared_ptr<const cord::Buffer> next_vault,
                                                        store::VaultRecords& records);
  AdoptedAfterImage(std::shared_ptr<const cord::Buffer> bytes, const store::VaultRecords& records)
      : bytes_(std::move(bytes)), records_(&records) {}
  std::shared_ptr<const cord::Buffer> bytes_;
  const store::VaultRecords* records_;
};

// Checks that `next_vault` holds exactly `records`, in their order, and leaves them (and every copy
// of them) viewing it, instead of decoding a second set of records. A file that does not decode
// fails as the commit's check of the after-images does (VaultInvalid naming the root's journal),
// one holding other records with RecoveryMismatch; records already moved stay moved (they hold the
// same content either way).
// REQUIRES: no other thread uses the records or their copies meanwhile.
OpsResult<AdoptedAfterImage> adopt_after_image(const store::WorkspacePaths& paths, const HashValue& root,
                                               std::shared_ptr<const cord::Buffer> next_vault,
                                               store::VaultRecords& records);

// The result of a guarded write of a state file (`file` is OpsError::kVaultFile or kRatchetFile):
// a write refused because the name no longer held the file read is PreconditionChanged.
OpsResult<void> written_or_changed(StoreResult<store::WriteOutcome> outcome, std::string_view file);

// Replaces the vault file at `vault_at` (the location its session resolved when it opened) with
// `next_vault` and the root's ratchet file with `next_ratchet` through a journal. Refuses, writing
// nothing, while a journal of the root is pending, when the files no longer hold `held_vault` and
// `expected_ratchet` (PreconditionChanged), and when the new files do not decode or name another
// root. Each file replaced is the file read: when a name holds another file just before its
// rename, that file is refused with PreconditionChanged. The new files are written from where
// they are (nothing is copied together) and read back slice by slice. With `adopted`, whose bytes
// must be `next_vault`, the vault's after-image is checked through the records found in it.
// REQUIRES: the root's state lock is held exclusively, then the workspace lock.
OpsResult<void> commit_vault_write(const store::WorkspacePaths& paths, const store::FileLocation& vault_at,
                                   const HashValue& root, std::string_view operation_label, const HeldFile& held_vault,
                                   const HeldFile& expected_ratchet, std::span<const std::uint8_t> next_vault,
                                   std::span<const std::uint8_t> next_ratchet,
                                   const AdoptedAfterImage* adopted = nullptr);

// Rolls a written journal forward: each file that holds its before-state is written, the ratchet
// first; a file that holds neither image stops it before anything is written. A file is written
// only over the file judged (else PreconditionChanged). Both files are read back and the journal
// is deleted last. Any failure leaves the journal.
// REQUIRES: both locks are held.
OpsResult<void> apply_transaction(const store::WorkspacePaths& paths, const store::FileLocation& vault_at,
                                  const store::TransactionV1& journal);

// Checks a journal's after-images: the vault decodes and its single self-signed root is the
// journal's root, and the ratchet parses for that root. Returns the ratchet's state.
OpsResult<validate::RatchetState> load_verified_state(const store::TransactionV1& journal,
                                                      const store::WorkspacePaths& paths);

// Nothing when no journal of the root is pending; otherwise the pending error (or the error of
// the pending journal's after-images), or BothRecoveryJournals for a join-commit journal.
// REQUIRES: the root's state lock is held exclusively.
OpsResult<void> preflight_write(const store::WorkspacePaths& paths, const HashValue& root);

// "a pending transaction {id hex} from {vault path} blocks writes for this vault".
OpsError pending_transaction_error_from_journal(const store::TransactionV1& journal);
OpsError pending_transaction_error(const PendingTransactionSummary& summary);

}  // namespace ostrel::ops
