// Whole-file advisory locks (flock). A lock belongs to the open file description, so two handles
// of one process contend exactly like two processes, and closing the last handle releases it.
// No state; safe from any thread.
#pragma once

#include "platform/file.h"

namespace ostrel::platform {

enum class LockMode { Shared, Exclusive };

// One attempt that never waits. Contention with another holder fails with EWOULDBLOCK; EINTR is
// retried.
OsResult<void> try_lock(const File& file, LockMode mode);

// Releases the lock held through `file`.
OsResult<void> unlock(const File& file);

}  // namespace ostrel::platform
