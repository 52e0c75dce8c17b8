#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace ostrel::platform {
namespace {

OsError last_error() { return OsError{errno}; }

// The path as the system calls take it. A path holding a NUL would be cut short there and name
// another file, so it is refused (EINVAL) instead.
OsResult<const char*> c_path(const std::filesystem::path& path) {
  if (path.native().find('\0') != std::string::npos) return std::unexpected(OsError{EINVAL});
  return path.c_str();
}

FileInfo info_of(const struct stat& st) {
  FileInfo info;
  if (S_ISREG(st.st_mode)) {
    info.type = FileType::Regular;
  } else if (S_ISDIR(st.st_mode)) {
    info.type = FileType::Directory;
  } else if (S_ISLNK(st.st_mode)) {
    info.type = FileType::Symlink;
  }
  info.size = st.st_size < 0 ? 0 : static_cast<std::uint64_t>(st.st_size);
  info.mode = static_cast<std::uint32_t>(st.st_mode & 07777);
  info.uid = static_cast<std::uint32_t>(st.st_uid);
  info.id = FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  info.modified_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  info.changed_ns = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
  return info;
}

OsResult<File> open_path(const std::filesystem::path& path, int flags, mode_t mode = 0) {
  auto name = c_path(path);
  if (!name) return std::unexpected(name.error());
  for (;;) {
    const int fd = ::open(*name, flags | O_CLOEXEC, mode);
    if (fd >= 0) return File(fd);
    if (errno != EINTR) return std::unexpected(last_error());
  }
}

OsResult<File> open_at(const File& dir, const std::filesystem::path& name, int flags, mode_t mode = 0) {
  auto entry = c_path(name);
  if (!entry) return std::unexpected(entry.error());
  for (;;) {
    const int fd = ::openat(dir.fd(), *entry, flags | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) return File(fd);
    if (errno != EINTR) return std::unexpected(last_error());
  }
}

OsResult<void> fsync_folder(int fd) {
  if (::fsync(fd) != 0 && errno != EINVAL) return std::unexpected(last_error());
  return {};
}

// The folder that holds `path`'s final entry, for syncing after a change to that entry.
std::filesystem::path parent_for_sync(const std::filesystem::path& path) {
  std::filesystem::path parent = path.parent_path();
  return parent.empty() ? std::filesystem::path(".") : parent;
}

}  // namespace

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    (void)close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

File::~File() { (void)close(); }

OsResult<void> File::close() {
  if (fd_ < 0) return {};
  const int fd = fd_;
  fd_ = -1;
  // Linux releases the descriptor even when close reports EINTR; retrying could close another.
  if (::close(fd) != 0 && errno != EINTR) return std::unexpected(last_error());
  return {};
}

OsResult<File> open_for_read(const std::filesystem::path& path) {
  return open_path(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
}

OsResult<File> create_new(const std::filesystem::path& path, std::uint32_t mode) {
  return open_path(path, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, static_cast<mode_t>(mode));
}

OsResult<File> open_lock_file(const std::filesystem::path& path, std::uint32_t mode) {
  constexpr int kFlags = O_CREAT | O_NOFOLLOW | O_NOCTTY;
  // Read-write first: NFS emulates flock with byte-range locks, and an exclusive one needs a
  // handle open for writing.
  auto file = open_path(path, O_RDWR | kFlags, static_cast<mode_t>(mode));
  if (file || file.error().code != EACCES) return file;
  // A local lock needs no write access, and a lock file that another user created under their
  // umask (or planted read-only) must not keep this one from locking. O_NONBLOCK: a read-only
  // open of a FIFO would wait for a writer. The descriptor is only ever locked.
  return open_path(path, O_RDONLY | O_NONBLOCK | kFlags, static_cast<mode_t>(mode));
}

OsResult<FileInfo> stat(const File& file) {
  struct stat st {};
  if (::fstat(file.fd(), &st) != 0) return std::unexpected(last_error());
  return info_of(st);
}

OsResult<FileInfo> lstat(const std::filesystem::path& path) {
  auto name = c_path(path);
  if (!name) return std::unexpected(name.error());
  struct stat st {};
  if (::lstat(*name, &st) != 0) return std::unexpected(last_error());
  return info_of(st);
}

OsResult<FileInfo> stat(const std::filesystem::path& path) {
  auto name = c_path(path);
  if (!name) return std::unexpected(name.error());
  struct stat st {};
  if (::stat(*name, &st) != 0) return std::unexpected(last_error());
  return info_of(st);
}

OsResult<std::size_t> read_some(const File& file, std::span<std::uint8_t> out) {
  for (;;) {
    const ssize_t n = ::read(file.fd(), out.data(), out.size());
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return std::unexpected(last_error());
  }
}

OsResult<void> write_all(const File& file, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(file.fd(), bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      // write() returning 0 for a non-empty buffer means no progress is possible.
      return std::unexpected(n == 0 ? OsError{EIO} : last_error());
    }
  }
  return {};
}

OsResult<void> sync(const File& file) {
  if (::fsync(file.fd()) != 0) return std::unexpected(last_error());
  return {};
}

void drop_cached_pages(const File& file) noexcept { (void)::posix_fadvise(file.fd(), 0, 0, POSIX_FADV_DONTNEED); }

OsResult<void> clear_nonblocking(const File& file) {
  const int flags = ::fcntl(file.fd(), F_GETFL);
  if (flags < 0) return std::unexpected(last_error());
  if ((flags & O_NONBLOCK) != 0 && ::fcntl(file.fd(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return std::unexpected(last_error());
  }
  return {};
}

OsResult<void> set_mode(const File& file, std::uint32_t mode) {
  if (::fchmod(file.fd(), static_cast<mode_t>(mode)) != 0) return std::unexpected(last_error());
  return {};
}

OsResult<void> rename(const std::filesystem::path& from, const std::filesystem::path& to) {
  auto from_name = c_path(from);
  if (!from_name) return std::unexpected(from_name.error());
  auto to_name = c_path(to);
  if (!to_name) return std::unexpected(to_name.error());
  if (::rename(*from_name, *to_name) != 0) return std::unexpected(last_error());
  return {};
}

OsResult<std::filesystem::path> real_path(const std::filesystem::path& path) {
  auto name = c_path(path);
  if (!name) return std::unexpected(name.error());
  char* resolved = ::realpath(*name, nullptr);
  if (resolved == nullptr) return std::unexpected(last_error());
  std::filesystem::path out(resolved);
  std::free(resolved);
  return out;
}

OsResult<void> remove_file(const std::filesystem::path& path) {
  auto name = c_path(path);
  if (!name) return std::unexpected(name.error());
  if (::unlink(*name) != 0) return std::unexpected(last_error());
  return {};
}

OsResult<void> sync_directory(const std::filesystem::path& dir) {
  auto opened = open_path(dir.empty() ? std::filesystem::path(".") : dir, O_RDONLY | O_DIRECTORY);
  if (!opened) return std::unexpected(opened.error());
  if (auto synced = fsync_folder(opened->fd()); !synced) return synced;
  return opened->close();
}

OsResult<File> open_directory(const std::filesystem::path& dir) {
  return open_path(dir.empty() ? std::filesystem::path(".") : dir, O_RDONLY | O_DIRECTORY);
}

OsResult<File> open_for_read_at(const File& dir, const std::filesystem::path& name) {
  return open_at(dir, name, O_RDONLY | O_NONBLOCK | O_NOCTTY);
}

OsResult<File> create_new_at(const File& dir, const std::filesystem::path& name, std::uint32_t mode) {
  return open_at(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, static_cast<mode_t>(mode));
}

OsResult<FileInfo> lstat_at(const File& dir, const std::filesystem::path& name) {
  auto entry = c_path(name);
  if (!entry) return std::unexpected(entry.error());
  struct stat st {};
  if (::fstatat(dir.fd(), *entry, &st, AT_SYMLINK_NOFOLLOW) != 0) return std::unexpected(last_error());
  return info_of(st);
}

OsResult<void> rename_at(const File& dir, const std::filesystem::path& from, const std::filesystem::path& to) {
  auto from_name = c_path(from);
  if (!from_name) return std::unexpected(from_name.error());
  auto to_name = c_path(to);
  if (!to_name) return std::unexpected(to_name.error());
  if (::renameat(dir.fd(), *from_name, dir.fd(), *to_name) != 0) return std::unexpected(last_error());
  return {};
}

OsResult<void> remove_at(const File& dir, const std::filesystem::path& name) {
  auto entry = c_path(name);
  if (!entry) return std::unexpected(entry.error());
  if (::unlinkat(dir.fd(), *entry, 0) != 0) return std::unexpected(last_error());
  return {};
}

OsResult<void> sync_directory(const File& dir) { return fsync_folder(dir.fd()); }

OsResult<void> create_dir_all(const std::filesystem::path& dir, std::uint32_t mode) {
  if (dir.empty()) return {};  // the current directory
  auto name = c_path(dir);
  if (!name) return std::unexpected(name.error());
  if (::mkdir(*name, static_cast<mode_t>(mode)) == 0) {
    return sync_directory(parent_for_sync(dir));
  }
  const int err = errno;
  if (err == EEXIST) {
    auto info = stat(dir);
    if (info && info->type == FileType::Directory) return {};
    return std::unexpected(OsError{EEXIST});
  }
  if (err != ENOENT) return std::unexpected(OsError{err});

  // A missing ancestor: create it first. A path that ends in "." or ".." has a lexical parent
  // that may not be its real one, but mkdir on it only fails with ENOENT when an ancestor is
  // missing, and that ancestor is then created here.
  const std::filesystem::path parent = dir.parent_path();
  if (parent.empty() || parent == dir) return std::unexpected(OsError{err});
  if (auto made = create_dir_all(parent, mode); !made) return made;
  if (::mkdir(*name, static_cast<mode_t>(mode)) == 0) {
    return sync_directory(parent_for_sync(dir));
  }
  if (errno == EEXIST) {  // made by someone else meanwhile
    auto info = stat(dir);
    if (info && info->type == FileType::Directory) return {};
  }
  return std::unexpected(last_error());
}

bool same_version(const FileInfo& a, const FileInfo& b) {
  return a.type == b.type && a.id == b.id && a.size == b.size && a.modified_ns == b.modified_ns &&
         a.changed_ns == b.changed_ns;
}

std::uint32_t effective_user_id() { return static_cast<std::uint32_t>(::geteuid()); }

}  // namespace ostrel::platform
