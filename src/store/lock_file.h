// Whole-file locks on dedicated, empty lock files: the primitives, the 10 s wait, and the two
// store guards, WorkspaceLock (vault.cord.lock) and StateLock (a root's state.lock). A lock
// belongs to its handle, so two guards in one process contend like two processes. Each guard is
// owned by one thread at a time; the functions are safe from any thread.
//
// Lock order: the state lock first, then the workspace lock; release in reverse. A shared state
// lock is never upgraded in place: release it before asking for the exclusive one.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "errors/store_error.h"
#include "platform/file.h"
#include "store/io.h"
#include "store/paths.h"

namespace ostrel::store {

// How long a contended lock is retried, and how often.
inline constexpr std::chrono::milliseconds kLockWait{10'000};
inline constexpr std::chrono::milliseconds kLockRetryInterval{100};

// One attempt that never waits; another holder's conflicting lock fails with kind WouldBlock.
IoResult<void> try_lock_exclusive(const platform::File& file);
IoResult<void> try_lock_shared(const platform::File& file);
IoResult<void> unlock_file(const platform::File& file);

// Opens a lock file, creating it (mode from `access`) when missing: read-write when allowed,
// otherwise read-only, so a lock file this user may only read still locks. Never truncates, and
// refuses a symbolic link, which could make the lock create or lock a file elsewhere.
IoResult<platform::File> open_lock_file(const std::filesystem::path& path, FileAccess access);

// An open lock-file handle that holds a whole-file lock. Dropping it releases the lock.
class FileLock {
 public:
  // REQUIRES: `file` holds a whole-file lock.
  explicit FileLock(platform::File file) : file_(std::move(file)) {}
  FileLock(FileLock&&) noexcept = default;
  FileLock& operator=(FileLock&& other) noexcept;
  ~FileLock() { release(); }

  // Releases the lock and ignores a failure; the handle stays open.
  void unlock();
  // Releases the lock, then closes the handle (which ends the lock in any case).
  void release();

  bool is_held() const { return file_.is_open(); }

 private:
  platform::File file_;
};

// How a contended lock is waited for.
struct LockWait {
  std::chrono::steady_clock::duration limit = kLockWait;
  std::chrono::steady_clock::duration interval = kLockRetryInterval;
  // Every sleep a whole interval, so the last try may come up to one interval after the limit;
  // otherwise the last sleep is cut short and the final try falls at the limit.
  bool whole_intervals = false;
};

// Tries the lock of `file` until it is free or `wait` runs out: the lock, none when the wait ran
// out, or the I/O error of a try that failed otherwise. The one retry loop of every lock.
IoResult<std::optional<FileLock>> wait_for_lock(platform::File file, bool exclusive, const LockWait& wait);

// Opens (creating its folder and the file when missing) and locks `lock_path`, retrying every
// 100 ms while another holder keeps it; after 10 s fails with StoreError::WorkspaceLockHeld
// naming the lock file. Other failures are StoreError::Io naming the folder or the lock file.
StoreResult<FileLock> lock_file_with_wait(const std::filesystem::path& lock_path, bool exclusive,
                                          FileAccess access);

// Serialises writers of one vault file: vault.cord.lock, held exclusively.
class WorkspaceLock {
 public:
  // Creates the vault directory when missing.
  static StoreResult<WorkspaceLock> acquire(const WorkspacePaths& paths);

  const std::filesystem::path& path() const { return path_; }
  void release() { lock_.release(); }

 private:
  WorkspaceLock(std::filesystem::path path, FileLock lock)
      : path_(std::move(path)), lock_(std::move(lock)) {}

  std::filesystem::path path_;
  FileLock lock_;
};

// A trusted root's state.lock: shared by readers, exclusive for writers.
class StateLock {
 public:
  // Checks the state directory (prepare_state_dir), then creates the root's folder and its
  // state.lock when missing.
  static StoreResult<StateLock> acquire(const WorkspacePaths& paths,
                                        std::span<const std::uint8_t> root, bool exclusive);
  static StoreResult<StateLock> acquire_exclusive(const WorkspacePaths& paths,
                                                  std::span<const std::uint8_t> root) {
    return acquire(paths, root, true);
  }
  static StoreResult<StateLock> acquire_shared(const WorkspacePaths& paths,
                                               std::span<const std::uint8_t> root) {
    return acquire(paths, root, false);
  }

  const std::filesystem::path& path() const { return path_; }
  bool exclusive() const { return exclusive_; }
  void release() { lock_.release(); }

 private:
  StateLock(std::filesystem::path path, FileLock lock, bool exclusive)
      : path_(std::move(path)), lock_(std::move(lock)), exclusive_(exclusive) {}

  std::filesystem::path path_;
  FileLock lock_;
  bool exclusive_;
};

}  // namespace ostrel::store
