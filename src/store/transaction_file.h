// The transaction journal, transaction.cord in a trusted root's state folder: the magic
// "ostrel-transaction" with its NUL, then one TransactionV1 holding the digests of the vault and
// ratchet files as a write found them and the complete bytes each is to hold afterwards. At most
// one per root. Encoding, validation, decoding, loading and the verified writer; they take no
// locks (callers hold the root's state lock, and for writing the workspace lock too). Safe from
// any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <variant>

#include "cord/codec.h"
#include "cord/serializer.h"
#include "errors/store_error.h"
#include "ids/identifiers.h"
#include "store/paths.h"

namespace ostrel::store {

// The whole file, magic included: two after-images of the largest state file and room to spare.
inline constexpr std::uint64_t kMaxTransactionFileBytes = 0x20100000;
// Each after-image, as the vault and ratchet files themselves.
inline constexpr std::uint64_t kMaxAfterImageBytes = 0x10000000;
inline constexpr std::size_t kTransactionIdBytes = 32;
inline constexpr std::size_t kMaxOperationLabelBytes = 128;
// What every secret write and deletion is labelled.
inline constexpr std::string_view kVaultMutationLabel = "vault mutation";

// The transaction file digest of a state file's complete bytes, magic included.
HashValue transaction_file_digest(std::span<const std::uint8_t> file);

namespace native_path {
// The canonical path's bytes as the operating system gives them.
struct Unix {
  cord::Bytes bytes;
  static auto cord_fields(auto& s) { return std::tie(s.bytes); }
  friend bool operator==(const Unix&, const Unix&) = default;
};
// UTF-16 code units, low byte first; an even number of bytes in a valid value.
struct WindowsUtf16Le {
  cord::Bytes bytes;
  static auto cord_fields(auto& s) { return std::tie(s.bytes); }
  friend bool operator==(const WindowsUtf16Le&, const WindowsUtf16Le&) = default;
};
}  // namespace native_path

// A file's path in stored form.
struct NativePathV1 : cord::Enumeration<native_path::Unix, native_path::WindowsUtf16Le> {
  using Unix = native_path::Unix;
  using WindowsUtf16Le = native_path::WindowsUtf16Le;
  using Enumeration::Enumeration;

  // The stored form of the canonical path (realpath) of an existing file. A failure is Io naming
  // `path` as given.
  static StoreResult<NativePathV1> from_path(const std::filesystem::path& path);
  // The path on this platform; none for another platform's form.
  std::optional<std::filesystem::path> to_path() const;
};

namespace file_precondition {
// The file does not exist.
struct Absent {
  static constexpr bool cord_unit = true;
  friend bool operator==(const Absent&, const Absent&) = default;
};
// The file's transaction file digest; 32 bytes in a valid value.
struct Digest {
  HashValue digest;
  static auto cord_fields(auto& s) { return std::tie(s.digest); }
  friend bool operator==(const Digest&, const Digest&) = default;
};
}  // namespace file_precondition

// What a state file must hold before the write.
struct FilePreconditionV1 : cord::Enumeration<file_precondition::Absent, file_precondition::Digest> {
  using Absent = file_precondition::Absent;
  using Digest = file_precondition::Digest;
  using Enumeration::Enumeration;
};

struct TransactionV1 {
  cord::Bytes id;                     // 32 random bytes
  HashValue trusted_root;             // the root whose state folder holds the journal
  NativePathV1 vault_path;            // the vault file written, in canonical stored form
  std::string operation_label;        // 1 to 128 bytes of NFC text
  FilePreconditionV1 vault_before;
  FilePreconditionV1 ratchet_before;
  cord::Bytes next_vault_bytes;       // the complete vault file afterwards
  cord::Bytes next_ratchet_bytes;     // the complete ratchet file afterwards

  static auto cord_fields(auto& s) {
    return std::tie(s.id, s.trusted_root, s.vault_path, s.operation_label, s.vault_before, s.ratchet_before,
                    s.next_vault_bytes, s.next_ratchet_bytes);
  }
  friend bool operator==(const TransactionV1&, const TransactionV1&) = default;

  // The first rule the journal breaks, as TransactionInvalid naming `path`.
  StoreResult<void> validate(const std::filesystem::path& path) const;
  // Whether the journal writes `vault_file` (compared by canonical stored form). A path that
  // cannot be canonicalised is Io.
  StoreResult<bool> is_for_vault(const std::filesystem::path& vault_file) const;
};

using TransactionStore = std::variant<TransactionV1>;

// The complete file, magic included. Validation failures and a file above the limit are
// TransactionInvalid naming "transaction.cord"; an encoding failure is StoreError::Cord.
StoreResult<cord::Buffer> encode_transaction_file(const TransactionV1& transaction);

// The journal a complete file holds; every failure is TransactionInvalid naming `path`. Single
// lengths are bounded by the file's own limit, not the stored files' 16 MiB, so a journal of a
// large vault reads back.
StoreResult<TransactionV1> decode_transaction_file(const std::filesystem::path& path,
                                                   std::span<const std::uint8_t> bytes);

// The root's journal, none when it has none. A read failure other than a missing file is Io; a
// journal of another root is TransactionInvalid.
// REQUIRES: the root's state lock is held.
StoreResult<std::optional<TransactionV1>> load_transaction(const WorkspacePaths& paths, const HashValue& root);

// Writes the journal of transaction.trusted_root (synced, its folder too), reads it back and
// requires the same bytes and the same value. A failure of the read-back leaves the journal.
// REQUIRES: the root's state lock is held exclusively, then the workspace lock.
StoreResult<void> write_transaction(const WorkspacePaths& paths, const TransactionV1& transaction);

// write_transaction for a journal whose after-images the caller holds elsewhere: `head` carries
// every field but the two after-images (its own are empty) and the journal is written from the
// pieces, never copied together. The read-back compares the file with the pieces slice by slice;
// the fields of `head` are decoded again from the bytes that open the file and compared.
// REQUIRES: head.next_vault_bytes and head.next_ratchet_bytes are empty; the locks as above.
StoreResult<void> write_transaction(const WorkspacePaths& paths, const TransactionV1& head,
                                    std::span<const std::uint8_t> next_vault, std::span<const std::uint8_t> next_ratchet);

}  // namespace ostrel::store
