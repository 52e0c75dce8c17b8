// The one bounded reader and the one atomic writer of every stored file, with the small steps
// around them. They take no locks: callers hold the store's locks where a file is shared between
// processes. Safe from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "cord/serializer.h"
#include "errors/store_error.h"
#include "platform/file.h"
#include "store/file_location.h"

namespace ostrel::store {

// Permissions of what a write creates.
enum class FileAccess {
  Workspace,   // files 0666, folders 0777, both less the umask: the workspace's own files
  Private,     // files 0600, folders 0700: everything under the state directory
  KeepTarget,  // the replaced file keeps its rwx bits (not set-id or sticky); as Workspace while missing
};

// Reads a whole regular file of at most `max` bytes. Anything else (directory, FIFO, device,
// socket) fails with kind InvalidInput "not a regular file" without being read; a file whose
// size is above `max` fails with kind InvalidData before anything is allocated; a file that grows
// past `max` while being read fails too. Never holds more than max + 1 bytes. Other failures are
// the operating system's, a missing file being kind NotFound.
IoResult<std::vector<std::uint8_t>> read_regular_file_bounded(const std::filesystem::path& path,
                                                              std::uint64_t max);

// A file's bytes and the metadata of the file they were read from, looked at before reading.
struct FileContents {
  cord::Buffer bytes;
  platform::FileInfo info;
};

// read_regular_file_bounded of the file at `at`; a symbolic link there is "not a regular file".
IoResult<FileContents> read_regular_file_bounded(const FileLocation& at, std::uint64_t max);

// read_regular_file_bounded into memory that is wiped when it grows or is freed, for files that
// hold a secret in the clear (an invitation's seed).
IoResult<cord::Buffer> read_secret_file_bounded(const std::filesystem::path& path, std::uint64_t max);

// The bounded read of the operations layer's commit and recovery code, where a missing file is an
// answer rather than a failure: nothing for kind NotFound, StoreError::Io naming `path` for every
// other failure, size limits included. The operations layer wraps the error as its own.
StoreResult<std::optional<std::vector<std::uint8_t>>> read_optional_file(std::filesystem::path path,
                                                                         std::uint64_t max);
// The same at a resolved location, with the metadata of the file read; errors name at.requested().
StoreResult<std::optional<FileContents>> read_optional_file(const FileLocation& at, std::uint64_t max);

// Deletes a file; a missing file or folder counts as deleted. The deletion is synced, so the file
// does not come back after a power loss.
StoreResult<void> remove_file_if_present(const std::filesystem::path& path);

// Moves `temp` over `target` in one step and syncs the folder. On failure the temporary file is
// deleted and the error names the target.
StoreResult<void> rename_replace(const std::filesystem::path& temp,
                                 const std::filesystem::path& target);

// Creates `dir` with every missing ancestor (folders as `access` says); an existing directory is
// success. The error names `dir`.
StoreResult<void> create_dir_all(const std::filesystem::path& dir, FileAccess access);

// A file's bytes as consecutive pieces, written or compared without first copying them together.
using Pieces = std::span<const std::span<const std::uint8_t>>;

// Creates the folder of `path` and resolves the file's location there (FileLocation::resolve);
// a failure is Io naming the folder or `path`.
StoreResult<FileLocation> locate_for_write(const std::filesystem::path& path, FileAccess access);

// Replaces the whole content of the file at `at`: writes a new temporary sibling, syncs and closes
// it, checks that the name still holds what `only` allows, renames the temporary file over the
// name and syncs the folder. All of it happens in the location's folder without following a link
// at the name, so the file replaced is the one `at` names, never one a link made meanwhile leads
// to. A crash leaves either the old file or the new one; a failure, or TargetChanged, leaves the
// old one and no temporary file. Reading it back is the caller's step (write_verified).
// REQUIRES: for a file under the state directory, prepare_state_dir has succeeded.
StoreResult<WriteOutcome> write_atomic(const FileLocation& at, std::span<const std::uint8_t> bytes,
                                       FileAccess access, ReplaceOnly only);
// The same for bytes given as pieces.
StoreResult<WriteOutcome> write_atomic(const FileLocation& at, Pieces pieces, FileAccess access, ReplaceOnly only);

// What a read-back leaves of the file in the page cache: its pages as they are, or none that can
// go (platform::drop_cached_pages).
enum class AfterCheck { KeepCached, DropCached };

// Whether the file at `at` holds exactly the bytes of `pieces`, compared slice by slice so that
// the file is never held in memory whole. Refusals and failures as read_regular_file_bounded(at,
// max) reports them.
IoResult<bool> file_holds(const FileLocation& at, Pieces pieces, std::uint64_t max,
                          AfterCheck after = AfterCheck::KeepCached);

// locate_for_write, then write_atomic whatever the name holds: a symbolic link at `path` is
// resolved first, so the link stays and keeps naming the data; a link to nothing or to anything
// else is refused (Io naming `path`) before anything is written.
// REQUIRES: for a file under the state directory, prepare_state_dir has succeeded.
StoreResult<void> write_atomic(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                               FileAccess access);

}  // namespace ostrel::store
