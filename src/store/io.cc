#include "store/io.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>

#include "errors/shared_texts.h"
#include "errors/text_form.h"
#include "errors/try.h"
#include "platform/file.h"
#include "platform/random.h"
#include "platform/secure_memory.h"
#include "platform/test_hooks.h"
#include "store/io_internal.h"

namespace ostrel::store {
namespace {

IoError os_error(platform::OsError e) { return IoError::from_os(e.code); }

IoError not_regular_file() { return IoError(IoError::InvalidInput, "not a regular file"); }

std::uint32_t file_mode(FileAccess access) { return access == FileAccess::Private ? 0600 : 0666; }
std::uint32_t dir_mode(FileAccess access) { return access == FileAccess::Private ? 0700 : 0777; }

// The folder holding `path`'s entry; "." for a bare name.
std::filesystem::path folder_of(const std::filesystem::path& path) {
  std::filesystem::path parent = path.parent_path();
  return parent.empty() ? std::filesystem::path(".") : parent;
}

std::string hex_digits(std::uint64_t v) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, v >>= 4) out[static_cast<std::size_t>(i)] = kDigits[v & 0x0f];
  return out;
}

// Makes a change of `dir`'s entries (a rename, a deletion) survive power loss.
StoreResult<void> sync_folder(const std::filesystem::path& dir) {
  if (auto synced = platform::sync_directory(dir); !synced) {
    return std::unexpected(StoreError::io(dir, os_error(synced.error())));
  }
  platform::step_reached(platform::step::kDirSynced, dir);
  return {};
}

// The temporary file is gone once a write fails; its own deletion failing changes nothing.
void discard(const std::filesystem::path& temp) { (void)platform::remove_file(temp); }

}  // namespace

namespace {

// The one body of every bounded read, given the file opened without blocking (so a FIFO's type
// is refused before any read waits); `Bytes` is a public or a wiping byte vector. `id`, when
// given, receives the metadata of the file read.
template <class Bytes>
IoResult<Bytes> read_bounded(platform::OsResult<platform::File> file, std::uint64_t max,
                             platform::FileInfo* looked_at = nullptr) {
  if (!file) return std::unexpected(os_error(file.error()));
  auto info = platform::stat(*file);
  if (!info) return std::unexpected(os_error(info.error()));
  if (looked_at != nullptr) *looked_at = *info;
  if (info->type != platform::FileType::Regular) {
    return std::unexpected(not_regular_file());
  }
  if (auto blocking = platform::clear_nonblocking(*file); !blocking) {
    return std::unexpected(os_error(blocking.error()));
  }
  if (info->size > max) {
    return std::unexpected(IoError(IoError::InvalidData, errors::size_above_maximum("file", info->size, max)));
  }

  // Files such as those under /proc report size 0 yet have content, and a file may grow while it
  // is read: past the reported size the buffer grows, but never beyond max + 1 bytes.
  const std::uint64_t limit = max == std::numeric_limits<std::uint64_t>::max() ? max : max + 1;
  // Nothing but the bytes read is ever seen: the buffer is cut back to them below.
  Bytes buf = [&] {
    if constexpr (std::is_same_v<Bytes, std::vector<std::uint8_t>>) {
      return Bytes(static_cast<std::size_t>(info->size));
    } else {
      return platform::unzeroed_bytes(static_cast<std::size_t>(info->size));
    }
  }();
  std::size_t len = 0;
  for (;;) {
    if (len < buf.size()) {
      auto n = platform::read_some(*file, std::span(buf).subspan(len));
      if (!n) return std::unexpected(os_error(n.error()));
      if (*n == 0) break;
      len += *n;
      continue;
    }
    if (len >= limit) break;
    // Buffer full: probe on the stack first, so a file of exactly the reported size is read into
    // its single allocation.
    std::array<std::uint8_t, 64> probe{};
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(probe.size(), limit - len));
    auto n = platform::read_some(*file, std::span(probe).first(want));
    if (!n) return std::unexpected(os_error(n.error()));
    if (*n == 0) break;
    const std::size_t grown = static_cast<std::size_t>(
        std::min<std::uint64_t>(limit, std::max<std::uint64_t>(len * 2, len + 8192)));
    buf.resize(grown);
    std::memcpy(buf.data() + len, probe.data(), *n);
    if constexpr (!std::is_same_v<Bytes, std::vector<std::uint8_t>>) platform::secure_wipe(probe.data(), probe.size());
    len += *n;
  }
  buf.resize(len);
  if (len > max) {
    return std::unexpected(IoError(IoError::InvalidData, errors::exceeds_maximum("file", max)));
  }
  return buf;
}

}  // namespace

IoResult<std::vector<std::uint8_t>> read_regular_file_bounded(const std::filesystem::path& path,
                                                              std::uint64_t max) {
  return read_bounded<std::vector<std::uint8_t>>(platform::open_for_read(path), max);
}

IoResult<FileContents> read_regular_file_bounded(const FileLocation& at, std::uint64_t max) {
  auto file = platform::open_for_read_at(at.folder(), at.name());
  // The name was resolved to a regular file; a link standing there now is not followed.
  if (!file && file.error().code == ELOOP) return std::unexpected(not_regular_file());
  FileContents out;
  OSTREL_TRY_ASSIGN(auto bytes, read_bounded<cord::Buffer>(std::move(file), max, &out.info));
  out.bytes = std::move(bytes);
  return out;
}

IoResult<cord::Buffer> read_secret_file_bounded(const std::filesystem::path& path, std::uint64_t max) {
  return read_bounded<cord::Buffer>(platform::open_for_read(path), max);
}

StoreResult<std::optional<std::vector<std::uint8_t>>> read_optional_file(std::filesystem::path path,
                                                                         std::uint64_t max) {
  auto bytes = read_regular_file_bounded(path, max);
  if (bytes) return std::optional(std::move(*bytes));
  if (bytes.error().kind() == IoError::NotFound) return std::nullopt;
  return std::unexpected(StoreError::io(std::move(path), std::move(bytes.error())));
}

StoreResult<std::optional<FileContents>> read_optional_file(const FileLocation& at, std::uint64_t max) {
  auto contents = read_regular_file_bounded(at, max);
  if (contents) return std::optional(std::move(*contents));
  if (contents.error().kind() == IoError::NotFound) return std::nullopt;
  return std::unexpected(StoreError::io(at.requested(), std::move(contents.error())));
}

StoreResult<void> remove_file_if_present(const std::filesystem::path& path) {
  if (auto removed = platform::remove_file(path); !removed) {
    IoError error = os_error(removed.error());
    if (error.kind() == IoError::NotFound) return {};
    return std::unexpected(StoreError::io(path, std::move(error)));
  }
  platform::step_reached(platform::step::kRemoved, path);
  return sync_folder(folder_of(path));
}

std::filesystem::path temp_path_for(const std::filesystem::path& target) {
  std::string name = target.filename().native();
  if (name.empty() || name == "." || name == ".." || errors::path_text(name) != name) name = "ostrel-write";

  std::array<std::uint8_t, 16> random{};
  platform::random_bytes(random);
  std::uint64_t low = 0, high = 0;
  std::memcpy(&low, random.data(), 8);
  std::memcpy(&high, random.data() + 8, 8);

  std::filesystem::path temp = target.parent_path();
  temp /= "." + name + ".tmp." + hex_digits(high) + hex_digits(low);
  return temp;
}

StoreResult<void> rename_replace(const std::filesystem::path& temp,
                                 const std::filesystem::path& target) {
  // rename(2) replaces an existing file in one step, so there is no delete-and-retry fallback.
  if (auto renamed = platform::rename(temp, target); !renamed) {
    discard(temp);
    return std::unexpected(StoreError::io(target, os_error(renamed.error())));
  }
  platform::step_reached(platform::step::kRenamed, target);
  // Without this the new directory entry may be lost on power loss even though the data is safe.
  return sync_folder(folder_of(target));
}

StoreResult<void> create_dir_all(const std::filesystem::path& dir, FileAccess access) {
  if (auto made = platform::create_dir_all(dir, dir_mode(access)); !made) {
    return std::unexpected(StoreError::io(dir, os_error(made.error())));
  }
  return {};
}

StoreResult<FileLocation> locate_for_write(const std::filesystem::path& path, FileAccess access) {
  OSTREL_TRY(create_dir_all(folder_of(path), access));
  auto at = FileLocation::resolve(path);
  if (!at) return std::unexpected(StoreError::io(path, std::move(at).error()));
  return std::move(*at);
}

StoreResult<WriteOutcome> write_atomic(const FileLocation& at, std::span<const std::uint8_t> bytes,
                                       FileAccess access, ReplaceOnly only) {
  const std::span<const std::uint8_t> one[] = {bytes};
  return write_atomic(at, Pieces(one), access, only);
}

StoreResult<WriteOutcome> write_atomic(const FileLocation& at, Pieces pieces, FileAccess access, ReplaceOnly only) {
  const platform::File& folder = at.folder();

  std::uint32_t mode = file_mode(access);
  bool exact_mode = false;
  if (access == FileAccess::KeepTarget) {
    if (auto current = at.entry(); current && current->type == platform::FileType::Regular) {
      // Permission bits only: a set-user-id, set-group-id or sticky bit is not carried over to a
      // file this process wrote.
      mode = current->mode & 0777;
      exact_mode = true;
    }
  }

  const std::filesystem::path temp = temp_path_for(at.path());
  const std::filesystem::path temp_name = temp.filename();
  // While being written the file is readable by no one else; the kept mode comes afterwards.
  auto file = platform::create_new_at(folder, temp_name, exact_mode ? 0600 : mode);
  if (!file) return std::unexpected(StoreError::io(temp, os_error(file.error())));

  auto discard_temp = [&] { (void)platform::remove_at(folder, temp_name); };
  auto fail = [&](platform::OsError e) -> StoreResult<WriteOutcome> {
    (void)file->close();
    discard_temp();
    return std::unexpected(StoreError::io(temp, os_error(e)));
  };
  if (exact_mode) {
    if (auto set = platform::set_mode(*file, mode); !set) return fail(set.error());
  }
  for (std::span<const std::uint8_t> piece : pieces) {
    if (auto written = platform::write_all(*file, piece); !written) return fail(written.error());
  }
  if (auto synced = platform::sync(*file); !synced) return fail(synced.error());
  // A close can report a deferred write error (e.g. on network file systems).
  if (auto closed = file->close(); !closed) {
    discard_temp();
    return std::unexpected(StoreError::io(temp, os_error(closed.error())));
  }
  platform::step_reached(platform::step::kTempSynced, at.path());

  // The last look before the rename: the name must still hold what the caller read.
  if (!only.allows(at.entry())) {
    discard_temp();
    return WriteOutcome::TargetChanged;
  }
  // rename(2) replaces an existing entry in one step, so there is no delete-and-retry fallback.
  if (auto renamed = platform::rename_at(folder, temp_name, at.name()); !renamed) {
    discard_temp();
    return std::unexpected(StoreError::io(at.path(), os_error(renamed.error())));
  }
  platform::step_reached(platform::step::kRenamed, at.path());
  // Without this the new directory entry may be lost on power loss even though the data is safe.
  if (auto synced = platform::sync_directory(folder); !synced) {
    return std::unexpected(StoreError::io(folder_of(at.path()), os_error(synced.error())));
  }
  platform::step_reached(platform::step::kDirSynced, folder_of(at.path()));
  return WriteOutcome::Written;
}

IoResult<bool> file_holds(const FileLocation& at, Pieces pieces, std::uint64_t max, AfterCheck after) {
  auto file = platform::open_for_read_at(at.folder(), at.name());
  if (!file) return std::unexpected(file.error().code == ELOOP ? not_regular_file() : os_error(file.error()));
  auto info = platform::stat(*file);
  if (!info) return std::unexpected(os_error(info.error()));
  if (info->type != platform::FileType::Regular) return std::unexpected(not_regular_file());
  if (auto blocking = platform::clear_nonblocking(*file); !blocking) return std::unexpected(os_error(blocking.error()));
  if (info->size > max) {
    return std::unexpected(IoError(IoError::InvalidData, errors::size_above_maximum("file", info->size, max)));
  }
  std::uint64_t total = 0;
  for (std::span<const std::uint8_t> piece : pieces) total += piece.size();
  if (info->size != total) return false;

  // Read in slices, so that checking a file never holds it in memory.
  constexpr std::size_t kSlice = std::size_t{1} << 20;
  std::vector<std::uint8_t> slice(static_cast<std::size_t>(std::min<std::uint64_t>(kSlice, total)) + 1);
  std::size_t piece = 0;
  std::size_t in_piece = 0;
  for (;;) {
    auto n = platform::read_some(*file, slice);
    if (!n) return std::unexpected(os_error(n.error()));
    if (*n == 0) break;
    std::span<const std::uint8_t> got(slice.data(), *n);
    while (!got.empty()) {
      while (piece < pieces.size() && in_piece == pieces[piece].size()) {
        ++piece;
        in_piece = 0;
      }
      if (piece == pieces.size()) return false;  // longer than written (it grew)
      const std::size_t k = std::min(got.size(), pieces[piece].size() - in_piece);
      if (!std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(k), pieces[piece].begin() + static_cast<std::ptrdiff_t>(in_piece))) {
        return false;
      }
      got = got.subspan(k);
      in_piece += k;
    }
  }
  while (piece < pieces.size() && in_piece == pieces[piece].size()) {
    ++piece;
    in_piece = 0;
  }
  const bool holds = piece == pieces.size();
  if (holds && after == AfterCheck::DropCached) platform::drop_cached_pages(*file);
  return holds;
}

StoreResult<void> write_atomic(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                               FileAccess access) {
  OSTREL_TRY_ASSIGN(const FileLocation at, locate_for_write(path, access));
  OSTREL_TRY_ASSIGN(const WriteOutcome outcome, write_atomic(at, bytes, access, ReplaceOnly::anything()));
  (void)outcome;  // anything may be replaced
  return {};
}

}  // namespace ostrel::store
