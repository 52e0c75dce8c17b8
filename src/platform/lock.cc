#include "platform/lock.h"

#include <sys/file.h>

#include <cerrno>

namespace ostrel::platform {
namespace {

OsResult<void> flock_retrying(const File& file, int operation) {
  for (;;) {
    if (::flock(file.fd(), operation) == 0) return {};
    if (errno != EINTR) return std::unexpected(OsError{errno});
  }
}

}  // namespace

OsResult<void> try_lock(const File& file, LockMode mode) {
  return flock_retrying(file, (mode == LockMode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
}

OsResult<void> unlock(const File& file) { return flock_retrying(file, LOCK_UN); }

}  // namespace ostrel::platform
