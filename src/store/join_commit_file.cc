#include "store/join_commit_file.h"

#include <utility>

#include "crypto/domain_hash.h"
#include "errors/try.h"
#include "store/io.h"
#include "store/verified_file.h"

namespace ostrel::store {
namespace {

constexpr std::string_view kDigestPurpose = "ostrel.join-commit.v1";

// Read and decoded here, never written through the verified writer.
constexpr FileFormat kJoinCommitFile{.magic = {"ostrel-join-commit\0", 19}, .magic_name = "join-commit",
                                     .subject = "join-commit", .max_bytes = kMaxJoinCommitFileBytes,
                                     .access = FileAccess::Private, .read_failed = io_read_failed,
                                     .invalid = io_refused};

}  // namespace

HashValue join_commit_digest(std::span<const std::uint8_t> file) { return crypto::domain_hash(kDigestPurpose, file); }

bool has_join_commit_magic(std::span<const std::uint8_t> file) { return has_magic(kJoinCommitFile, file); }

cord::Result<JoinCommitJournalV1> decode_join_commit_file(std::span<const std::uint8_t> file) {
  // Local and never read from a peer: lengths are bounded by the file's own limit.
  OSTREL_TRY_ASSIGN(JoinCommitJournal journal,
                    cord::from_slice<JoinCommitJournal>(file.subspan(kJoinCommitFile.magic.size()), nullptr,
                                                        kMaxJoinCommitFileBytes));
  return std::get<0>(std::move(journal));
}

StoreResult<cord::Buffer> encode_join_commit_file(const JoinCommitJournalV1& journal) {
  cord::Buffer out =
      start_file(kJoinCommitFile, 256 + journal.next_vault_bytes.size() + journal.next_ratchet_bytes.size());
  cord::Serializer s(out);
  s.write_u32(0);  // the store's variant V1
  if (auto r = cord::encode(s, journal); !r) return std::unexpected(StoreError::from_cord(std::move(r).error()));
  return out;
}

StoreResult<std::optional<std::vector<std::uint8_t>>> read_join_commit_file(const WorkspacePaths& paths,
                                                                           const HashValue& root) {
  return read_optional_file(paths.join_commit_path(root.bytes), kJoinCommitFile.max_bytes);
}

}  // namespace ostrel::store
