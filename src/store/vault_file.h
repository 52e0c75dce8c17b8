// The vault file, vault.cord: the magic "ostrel-vault" with its NUL, then the canonical set of
// signed records. Reader, decoder, encoder and the verified writer. They take no locks (writers
// hold the state lock and then the workspace lock); safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "cord/serializer.h"
#include "cord/set.h"
#include "core/records.h"
#include "errors/core_error.h"
#include "errors/store_error.h"
#include "store/file_location.h"
#include "store/io.h"
#include "store/paths.h"

namespace ostrel::store {

// The whole file, magic included, and the records it may hold.
inline constexpr std::uint64_t kMaxVaultFileBytes = 268'435'456;
inline constexpr std::size_t kMaxVaultRecords = 262'144;

// The records of a vault; each keeps the canonical bytes it was read from.
using VaultRecords = cord::Set<core::VaultRecordV1>;

// The raw bytes of the paths' vault file. A missing file is VaultMissing, one above the size limit
// VaultInvalid; every other failure, "not a regular file" included, is Io.
StoreResult<std::vector<std::uint8_t>> read_vault_bytes(const WorkspacePaths& paths);

// Where the paths' vault file lives, resolved now (a symbolic link at vault.cord stands for the
// file it leads to); failures as read_vault_bytes reports them, a missing folder or a link that
// leads nowhere being VaultMissing. A session resolves it once and reads and writes through it.
StoreResult<FileLocation> locate_vault(const WorkspacePaths& paths);
// The raw bytes of the vault file at `at` and which file they came from; failures as above.
StoreResult<FileContents> read_vault_bytes(const FileLocation& at);

// The records of a complete vault file. Malformed records, records out of order and bytes after
// the set fail with the encoding's error; a wrong magic, a file too large or too many records
// with a validation error.
CoreResult<VaultRecords> decode_vault_file(std::span<const std::uint8_t> bytes);
// As above, for a file held in shared ownership: the records keep views of its bytes (and keep
// it alive) instead of copies of their encodings.
CoreResult<VaultRecords> decode_vault_file(std::shared_ptr<const std::vector<std::uint8_t>> file);
// As above for `bytes` that `owner` keeps alive.
CoreResult<VaultRecords> decode_vault_file(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner);

// Checks that `bytes` (kept alive by `owner`) are a complete vault file holding exactly
// `records`, in their order, and moves each held record onto the one read from the file
// (VaultRecordV1::relocate): afterwards the records, and everything that shares them, view
// `bytes`, and whatever they viewed before can go. Records are decoded one at a time, so no
// second set of records is ever held. Fails as decode_vault_file does, or with a validation
// error when the file holds other records; records already moved stay moved (they hold the
// same content either way).
// REQUIRES: no other thread uses the records or their copies meanwhile.
CoreResult<void> adopt_vault_file(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner,
                                  VaultRecords& records);

// Moves the last record to where the file's order puts it (ascending encoding), or drops it when
// an equal record is there already; returns its position either way. Keeps a set read from a
// file in the file's order, so that its encoding needs no sorting and its positions are the
// file's. REQUIRES: `records` is not empty; all but the last stand in that order.
std::size_t move_last_into_file_order(VaultRecords& records);

// The complete file for `records`, magic included, written in canonical order.
CoreResult<cord::Buffer> encode_vault_file(const VaultRecords& records);

// StoreError::VaultInvalid naming the paths' vault file, also when the bytes that failed came from
// memory.
StoreError vault_invalid(const WorkspacePaths& paths, CoreError error);

// read_vault_bytes, then decode_vault_file; a decoding failure is VaultInvalid.
StoreResult<VaultRecords> load_vault(const WorkspacePaths& paths);

// Replaces the vault file at `at` with `bytes` (a complete file, normally from encode_vault_file or
// a journal's after-image) atomically, keeping the old file's permissions, provided the name still
// holds what `only` allows (else TargetChanged, nothing written); then reads it back and requires
// the same bytes and a file that decodes. A failure of the read-back is reported with the new file
// already in place. `paths` names the file in decoding errors.
StoreResult<WriteOutcome> write_vault(const WorkspacePaths& paths, const FileLocation& at,
                                      std::span<const std::uint8_t> bytes, ReplaceOnly only);
// The same for a complete file whose bytes were decoded already (adopt_vault_file): the read-back
// compares the file with `bytes` slice by slice and decodes nothing again.
StoreResult<WriteOutcome> write_decoded_vault(const FileLocation& at, std::span<const std::uint8_t> bytes,
                                              ReplaceOnly only);
// The same for the paths' vault file located now, whatever it holds.
StoreResult<void> write_vault(const WorkspacePaths& paths, std::span<const std::uint8_t> bytes);

}  // namespace ostrel::store
