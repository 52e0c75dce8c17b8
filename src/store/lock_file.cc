#include "store/lock_file.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "errors/try.h"
#include "platform/lock.h"

namespace ostrel::store {
namespace {

IoResult<void> as_io(platform::OsResult<void> r) {
  if (!r) return std::unexpected(IoError::from_os(r.error().code));
  return {};
}

}  // namespace

IoResult<void> try_lock_exclusive(const platform::File& file) {
  return as_io(platform::try_lock(file, platform::LockMode::Exclusive));
}

IoResult<void> try_lock_shared(const platform::File& file) {
  return as_io(platform::try_lock(file, platform::LockMode::Shared));
}

IoResult<void> unlock_file(const platform::File& file) { return as_io(platform::unlock(file)); }

IoResult<platform::File> open_lock_file(const std::filesystem::path& path, FileAccess access) {
  auto file = platform::open_lock_file(path, access == FileAccess::Private ? 0600 : 0666);
  if (!file) return std::unexpected(IoError::from_os(file.error().code));
  return std::move(*file);
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    release();
    file_ = std::move(other.file_);
  }
  return *this;
}

void FileLock::unlock() {
  // A descriptor shared with a forked child keeps the lock past our close; unlocking first
  // ends it for everyone.
  if (file_.is_open()) (void)unlock_file(file_);
}

void FileLock::release() {
  unlock();
  (void)file_.close();
}

IoResult<std::optional<FileLock>> wait_for_lock(platform::File file, bool exclusive, const LockWait& wait) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    auto attempt = exclusive ? try_lock_exclusive(file) : try_lock_shared(file);
    if (attempt) return FileLock(std::move(file));
    if (attempt.error().kind() != IoError::WouldBlock) return std::unexpected(std::move(attempt).error());
    const auto waited = std::chrono::steady_clock::now() - start;
    if (waited >= wait.limit) return std::nullopt;
    std::this_thread::sleep_for(wait.whole_intervals ? wait.interval : std::min(wait.interval, wait.limit - waited));
  }
}

StoreResult<FileLock> lock_file_with_wait(const std::filesystem::path& lock_path, bool exclusive,
                                          FileAccess access) {
  std::filesystem::path dir = lock_path.parent_path();
  if (dir.empty()) dir = ".";
  OSTREL_TRY(create_dir_all(dir, access));

  auto file = open_lock_file(lock_path, access);
  if (!file) return std::unexpected(StoreError::io(lock_path, std::move(file).error()));

  auto lock = wait_for_lock(std::move(*file), exclusive, LockWait{});
  if (!lock) return std::unexpected(StoreError::io(lock_path, std::move(lock).error()));
  if (!*lock) return std::unexpected(StoreError::workspace_lock_held(lock_path));
  return std::move(**lock);
}

StoreResult<WorkspaceLock> WorkspaceLock::acquire(const WorkspacePaths& paths) {
  OSTREL_TRY(create_dir_all(paths.vault_dir.empty() ? "." : paths.vault_dir, FileAccess::Workspace));
  OSTREL_TRY_ASSIGN(auto lock, lock_file_with_wait(paths.lock_file, true, FileAccess::Workspace));
  return WorkspaceLock(paths.lock_file, std::move(lock));
}

StoreResult<StateLock> StateLock::acquire(const WorkspacePaths& paths,
                                          std::span<const std::uint8_t> root, bool exclusive) {
  OSTREL_TRY(prepare_state_dir(paths));
  std::filesystem::path path = paths.state_lock_path(root);
  OSTREL_TRY_ASSIGN(auto lock, lock_file_with_wait(path, exclusive, FileAccess::Private));
  return StateLock(std::move(path), std::move(lock), exclusive);
}

}  // namespace ostrel::store
