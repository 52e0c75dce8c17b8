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
#include "store/paths.h"

namespace ostrel::store {

// The whole file, magic included.
inline constexpr std::uint64_t kMaxRatchetFileBytes = 268'435'456;

// The state a complete ratchet file holds. A wrong magic, a malformed set, and a set without
// exactly one trusted-root entry are RatchetInvalid naming `path`. Unknown entries are kept raw.
StoreResult<validate::RatchetState> parse_ratchet_file(const std::filesystem::path& path,
                                                       std::span<const std::uint8_t> bytes);

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

// encode_ratchet_file, then write_ratchet_bytes for the state's own root.
// REQUIRES: the root's state lock is held exclusively.
StoreResult<void> save_ratchet(const WorkspacePaths& paths, const validate::RatchetState& state);

}  // namespace ostrel::store
