// The ratchet file, ratchet.cord in a trusted root's state folder: the magic "ostrel-ratchet"
// with its NUL, then the canonical set of ratchet entries that holds the root's RatchetState.
// Parser, encoder, loader and the verified writers. They take no locks (loading runs under the
// root's state lock, shared; saving under it, exclusive); safe from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "cord/serializer.h"
#include "core/validate/ratchet_state.h"
#include "errors/store_error.h"
#include "store/file_location.h"
#include "store/io.h"
#include "store/paths.h"

namespace ostrel::store {

// The whole file, magic included.
inline constexpr std::uint64_t kMaxRatchetFileBytes = 268'435'456;

// The state a complete ratchet file holds. A wrong magic, a malformed set, and a set without
// exactly one trusted-root entry are RatchetInvalid naming `path`. Unknown entries are kept raw.
// Secret bindings that a record of `records` states alike refer to that record instead of owning
// a copy (validate::RatchetStateLoader).
StoreResult<validate::RatchetState> parse_ratchet_file(const std::filesystem::path& path,
                                                       std::span<const std::uint8_t> bytes,
                                                       std::span<const core::VaultRecordV1> records = {});

// The trusted root a complete ratchet file names, with the refusals of parse_ratchet_file, but
// without making the state: the entries are read one at a time and only the trusted-root entries
// are kept, so checking that a file parses holds none of it in memory.
StoreResult<HashValue> check_ratchet_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// The complete file for `state`, magic included: its records and its kept raw entries, in
// canonical order. An encoding failure is StoreError::Cord.
StoreResult<cord::Buffer> encode_ratchet_file(const validate::RatchetState& state);

// The state remembered for `root`, or none when it has no ratchet file. A read failure is Io; a
// file that names another root is TrustRootMismatch.
// REQUIRES: the root's state lock is held.
StoreResult<std::optional<validate::RatchetState>> load_ratchet(const WorkspacePaths& paths, const HashValue& root);

// Replaces `root`'s ratchet file with `bytes` (a complete file) after checking that they parse and
// belong to `root`, then reads the file back and requires the same bytes and a file that parses.
// A failure of the read-back is reported with the new file already in place.
// REQUIRES: the root's state lock is held exclusively.
StoreResult<void> write_ratchet_bytes(const WorkspacePaths& paths, const HashValue& root,
                                      std::span<const std::uint8_t> bytes);

// A remembered ratchet and the file it was read from, its bytes included.
struct LoadedRatchet {
  validate::RatchetState state;
  FileContents file;
};
// load_ratchet from the file at `at`, with the file read; secret bindings are shared with
// `records` as parse_ratchet_file shares them.
// REQUIRES: the root's state lock is held.
StoreResult<std::optional<LoadedRatchet>> load_ratchet(const FileLocation& at, const HashValue& root,
                                                       std::span<const core::VaultRecordV1> records = {});

// Where `root`'s ratchet file lives, resolved now; the state directory is checked
// (prepare_state_dir) and the root's folder created first. Failures are Io.
StoreResult<FileLocation> locate_ratchet(const WorkspacePaths& paths, const HashValue& root);
// The bytes of the ratchet file at `at` and which file they came from, none when it is missing.
StoreResult<std::optional<FileContents>> read_ratchet_bytes(const FileLocation& at);
// write_ratchet_bytes at `at`, provided the name still holds what `only` allows (else
// TargetChanged, nothing written).
// REQUIRES: the root's state lock is held exclusively.
StoreResult<WriteOutcome> write_ratchet_bytes(const WorkspacePaths& paths, const HashValue& root, const FileLocation& at,
                                              std::span<const std::uint8_t> bytes, ReplaceOnly only);

// The same for bytes already parsed for `root`: the read-back compares the file with them slice by
// slice. REQUIRES: the root's state lock is held exclusively; `at` came from locate_ratchet.
StoreResult<WriteOutcome> write_parsed_ratchet(const FileLocation& at, std::span<const std::uint8_t> bytes,
                                               ReplaceOnly only);

// encode_ratchet_file, then write_ratchet_bytes for the state's own root.
// REQUIRES: the root's state lock is held exclusively.
StoreResult<void> save_ratchet(const WorkspacePaths& paths, const validate::RatchetState& state);

}  // namespace ostrel::store
