// Thin wrappers over the POSIX file calls the store needs: an owning descriptor, opens with the
// flags each use requires, whole reads and writes, syncing, renames, directory creation.
// Functions keep no state and are safe from any thread; a File is used by one thread at a time.
#pragma once

#include "platform/result.h"
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>

namespace ostrel::platform {

// A failed system call: its errno value.
struct OsError {
  int code = 0;
  friend bool operator==(const OsError&, const OsError&) = default;
};

template <class T>
using OsResult = Result<T, OsError>;

// An open file descriptor, closed when dropped.
class File {
 public:
  File() = default;
  explicit File(int fd) : fd_(fd) {}
  File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Closes the descriptor and reports the close's own failure; the descriptor is gone either way.
  OsResult<void> close();

 private:
  int fd_ = -1;
};

enum class FileType { Regular, Directory, Symlink, Other };

// Which file a directory entry names: a rename over the entry replaces exactly this file.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
};

// What the store looks at in a file's metadata.
struct FileInfo {
  FileType type = FileType::Other;
  std::uint64_t size = 0;
  std::uint32_t mode = 0;  // permission bits only (07777)
  std::uint32_t uid = 0;
  FileId id;
  std::int64_t modified_ns = 0;  // last change of the content
  std::int64_t changed_ns = 0;   // last change of the content or the metadata
};

// Whether two looks at a name found the same file with the same content: the same file, size and
// change times. Every writer of this system renames a new file into place, which gives it a new
// identity; an edit in place changes the change time.
bool same_version(const FileInfo& a, const FileInfo& b);

// Opens an existing file read-only without blocking on FIFOs or devices and without taking a
// controlling terminal; symbolic links are followed.
OsResult<File> open_for_read(const std::filesystem::path& path);

// Creates a new file for writing; fails with EEXIST when the name is taken (also by a link).
// `mode` is filtered by the umask.
OsResult<File> create_new(const std::filesystem::path& path, std::uint32_t mode);

// Opens a lock file, creating it with `mode` (filtered by the umask) when missing; never truncates
// and refuses a symbolic link in the final component. Read-write when this user may write it,
// otherwise read-only (and without blocking on a FIFO): a lock needs only a handle.
OsResult<File> open_lock_file(const std::filesystem::path& path, std::uint32_t mode);

OsResult<FileInfo> stat(const File& file);
// Metadata of the path itself, not of a link's target.
OsResult<FileInfo> lstat(const std::filesystem::path& path);
// Metadata of the path, following links; a missing path is ENOENT.
OsResult<FileInfo> stat(const std::filesystem::path& path);

// One read of up to out.size() bytes; 0 at end of file. EINTR is retried.
OsResult<std::size_t> read_some(const File& file, std::span<std::uint8_t> out);
// Writes every byte, continuing after short writes and EINTR.
OsResult<void> write_all(const File& file, std::span<const std::uint8_t> bytes);
// Flushes data and metadata to stable storage.
OsResult<void> sync(const File& file);
// Lets the kernel drop the file's cached pages that are written back already: a file read again
// only after a crash need not crowd out the files written after it. Only a hint; nothing fails.
void drop_cached_pages(const File& file) noexcept;
// Turns off O_NONBLOCK, for a file whose type is known to be regular: some network and FUSE
// file systems honour the flag on regular files too.
OsResult<void> clear_nonblocking(const File& file);
// Sets the permission bits exactly, bypassing the umask.
OsResult<void> set_mode(const File& file, std::uint32_t mode);

// Replaces `to` with `from` in one step when both are files.
OsResult<void> rename(const std::filesystem::path& from, const std::filesystem::path& to);
OsResult<void> remove_file(const std::filesystem::path& path);

// The absolute path of what `path` names, with every symbolic link and "." or ".." resolved; the
// file must exist (ENOENT for a dangling link, ELOOP for a loop).
OsResult<std::filesystem::path> real_path(const std::filesystem::path& path);

// Flushes a directory's entries, so that a rename, creation or deletion in it survives power
// loss. File systems that cannot sync directories (EINVAL) count as success.
OsResult<void> sync_directory(const std::filesystem::path& dir);

// Creates `dir` and every missing ancestor with `mode` (filtered by the umask), syncing each new
// folder's parent. An existing directory, or a link to one, is success; an existing non-directory
// fails with EEXIST.
OsResult<void> create_dir_all(const std::filesystem::path& dir, std::uint32_t mode);

// Calls relative to an open folder. `name` is one entry of that folder; a symbolic link there is
// never followed, so what a folder handle names cannot be redirected by a link made later.

// Opens a folder for the calls below (and for syncing it); links on the way are followed.
OsResult<File> open_directory(const std::filesystem::path& dir);
// As open_for_read; a symbolic link at `name` fails with ELOOP.
OsResult<File> open_for_read_at(const File& dir, const std::filesystem::path& name);
// As create_new, in `dir`.
OsResult<File> create_new_at(const File& dir, const std::filesystem::path& name, std::uint32_t mode);
// Metadata of the entry itself; a missing entry is ENOENT.
OsResult<FileInfo> lstat_at(const File& dir, const std::filesystem::path& name);
// Replaces the entry `to` (whatever it is, a link included) with `from` in one step.
OsResult<void> rename_at(const File& dir, const std::filesystem::path& from, const std::filesystem::path& to);
OsResult<void> remove_at(const File& dir, const std::filesystem::path& name);
// sync_directory for an open folder.
OsResult<void> sync_directory(const File& dir);

// The effective user id of this process, the owner of every file it creates.
std::uint32_t effective_user_id();

}  // namespace ostrel::platform
