// The one way every stored file is written and read: a magic prefix, a size limit, an atomic
// replace and a read-back that must return the bytes written. A FileFormat says what differs
// between the files: their magic, their limit, the word that names them in messages and the
// store errors that report their failures. Take no locks (the callers hold the store's locks);
// safe from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cord/serializer.h"
#include "errors/store_error.h"
#include "errors/try.h"
#include "store/io.h"

namespace ostrel::store {

struct FileFormat {
  std::string_view magic;       // the prefix every such file starts with, its NUL included
  std::string_view magic_name;  // "vault": "not a ostrel vault file (missing magic prefix)"
  std::string_view subject;     // "vault": "vault is 5 bytes, above ...", "vault bytes differed ..."
  std::uint64_t max_bytes;      // the whole file, magic included
  FileAccess access;
  // How a failed read of the file at `path` is reported (a missing file included).
  StoreError (*read_failed)(const std::filesystem::path& path, IoError error);
  // How the file's own refusal of its bytes is reported: too large, or not what was written.
  StoreError (*invalid)(const std::filesystem::path& path, std::string message);
  // Read again only after a crash (a journal): once write_checked has confirmed it, its pages
  // leave the cache instead of crowding out the files written after it.
  bool uncached_once_checked = false;
};

// The reporting of most state files: a failed read is Io at the path, and the file's own refusals
// are Io at the path of kind InvalidData with the message.
StoreError io_read_failed(const std::filesystem::path& path, IoError error);
StoreError io_refused(const std::filesystem::path& path, std::string message);

// Whether `bytes` begin with the format's magic.
bool has_magic(const FileFormat& format, std::span<const std::uint8_t> bytes);
// "not a ostrel {magic_name} file (missing magic prefix)"
std::string missing_magic_message(const FileFormat& format);
// A buffer holding the magic, with room for `payload_bytes` more: where an encoder starts.
cord::Buffer start_file(const FileFormat& format, std::size_t payload_bytes = 0);

// The bytes of the file at `path`, read with the format's limit (symbolic links followed);
// failures as format.read_failed says.
StoreResult<std::vector<std::uint8_t>> read_stored_file(const std::filesystem::path& path, const FileFormat& format);
// The same at a resolved location (a link at its name is not followed), with the identity of the
// file read; failures name at.requested().
StoreResult<FileContents> read_stored_file(const FileLocation& at, const FileFormat& format);

// The file's size refusal (format.invalid with "{subject} is {n} bytes, above the supported
// maximum of {max}") when `size` is above the limit.
StoreResult<void> check_size(const std::filesystem::path& path, std::uint64_t size, const FileFormat& format);

// Replaces the file at `at` with `bytes` (write_atomic, guarded by `only`) and reads back the file
// replaced; bytes that differ are format.invalid with "{subject} bytes differed immediately after
// atomic write". Returns the bytes read back, or none when `only` refused the write (nothing
// written). A failure of the read-back is reported with the new file already in place.
StoreResult<std::optional<cord::Buffer>> replace_and_read_back(const FileLocation& at,
                                                                           std::span<const std::uint8_t> bytes,
                                                                           const FileFormat& format,
                                                                           ReplaceOnly only);

// The verified write of a file whose bytes the caller already proved to load (they were decoded
// or parsed from these very bytes): check_size, the atomic write of the pieces guarded by `only`,
// then the read-back, which compares the file with the pieces slice by slice and so never holds
// it in memory. Refusals name at.requested(); a failure of the read-back is reported with the
// new file already in place.
StoreResult<WriteOutcome> write_checked(const FileLocation& at, Pieces pieces, const FileFormat& format,
                                        ReplaceOnly only);

// The verified write of every stored file: check_size; then `before()` (the file's own checks and
// folder preparation), after which nothing else refuses before writing; then
// replace_and_read_back; then `after(bytes read back)` (a decode proving the file loads).
// `before` returns StoreResult<void>; `after` takes the bytes and returns StoreResult<void>.
// Refusals name at.requested().
template <class Before, class After>
StoreResult<WriteOutcome> write_verified(const FileLocation& at, std::span<const std::uint8_t> bytes,
                                         const FileFormat& format, ReplaceOnly only, Before&& before,
                                         After&& after) {
  OSTREL_TRY(check_size(at.requested(), bytes.size(), format));
  OSTREL_TRY(before());
  OSTREL_TRY_ASSIGN(const std::optional<cord::Buffer> written,
                    replace_and_read_back(at, bytes, format, only));
  if (!written) return WriteOutcome::TargetChanged;
  OSTREL_TRY(after(std::span<const std::uint8_t>(*written)));
  return WriteOutcome::Written;
}

// As above for the file at `path`, located after `before()` has prepared its folder (which
// locate_for_write creates when missing), whatever the name holds.
template <class Before, class After>
StoreResult<void> write_verified(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                                 const FileFormat& format, Before&& before, After&& after) {
  OSTREL_TRY(check_size(path, bytes.size(), format));
  OSTREL_TRY(before());
  OSTREL_TRY_ASSIGN(const FileLocation at, locate_for_write(path, format.access));
  auto nothing_more = []() -> StoreResult<void> { return {}; };
  OSTREL_TRY_ASSIGN(const WriteOutcome outcome,
                    write_verified(at, bytes, format, ReplaceOnly::anything(), nothing_more, after));
  (void)outcome;  // anything may be replaced
  return {};
}

}  // namespace ostrel::store
