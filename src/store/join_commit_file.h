// The join-commit journal, join-commit.cord in a trusted root's state folder: the magic
// "ostrel-join-commit" with its NUL, then one JoinCommitJournalV1 holding the digests of the vault
// and ratchet files before a commit and the complete bytes of both afterwards. This system never
// makes one (the encoder serves tools and tests that do); an opening applies one it finds. Pure
// functions and one read; they take no locks. Safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <tuple>
#include <variant>
#include <vector>

#include "cord/codec.h"
#include "cord/serializer.h"
#include "errors/store_error.h"
#include "ids/identifiers.h"
#include "store/paths.h"

namespace ostrel::store {

// The whole file, magic included: a vault file's limit and room to spare.
inline constexpr std::uint64_t kMaxJoinCommitFileBytes = 0x10100000;

// The join-commit digest of a state file's complete bytes, magic included.
HashValue join_commit_digest(std::span<const std::uint8_t> file);

struct JoinCommitJournalV1 {
  HashValue trusted_root;
  HashValue vault_before_hash;    // join-commit digest of the vault file before the commit
  HashValue ratchet_before_hash;  // of the remembered ratchet as encode_ratchet_file writes it
  cord::Bytes next_vault_bytes;
  cord::Bytes next_ratchet_bytes;  // exactly as encode_ratchet_file writes the state it holds

  static auto cord_fields(auto& s) {
    return std::tie(s.trusted_root, s.vault_before_hash, s.ratchet_before_hash, s.next_vault_bytes,
                    s.next_ratchet_bytes);
  }
  friend bool operator==(const JoinCommitJournalV1&, const JoinCommitJournalV1&) = default;
};

using JoinCommitJournal = std::variant<JoinCommitJournalV1>;

// Whether a file begins with the journal's magic.
bool has_join_commit_magic(std::span<const std::uint8_t> file);

// The journal a complete file holds after its magic. Single lengths are bounded by the file's own
// limit, so a journal of a vault above 16 MiB decodes.
// REQUIRES: has_join_commit_magic(file).
cord::Result<JoinCommitJournalV1> decode_join_commit_file(std::span<const std::uint8_t> file);

// The complete file, magic included. An encoding failure is StoreError::Cord.
StoreResult<cord::Buffer> encode_join_commit_file(const JoinCommitJournalV1& journal);

// The bytes of the root's join-commit journal, none when there is none; any other read failure (a
// directory, a file above the limit) is Io naming the journal.
StoreResult<std::optional<std::vector<std::uint8_t>>> read_join_commit_file(const WorkspacePaths& paths,
                                                                           const HashValue& root);

}  // namespace ostrel::store
