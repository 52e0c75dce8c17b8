// Where a workspace's files and a trusted root's state files live. The path functions only read
// the environment and never touch the file system; prepare_state_dir is the one exception and
// says so. Safe from any thread while nothing changes the environment concurrently.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "errors/store_error.h"

namespace ostrel::store {

// The state directory and whether it is the per-user fallback under the shared temporary
// directory, which must be checked before it is trusted (prepare_state_dir).
struct StateDirLocation {
  std::filesystem::path dir;
  bool in_shared_temp = false;
};

// Resolves the state directory from the environment, read afresh on every call:
//  1. $OSTREL_STATE_DIR exactly as set (empty or relative values included);
//  2. else $APPDATA/Ostrel;
//  3. else $XDG_STATE_HOME/Ostrel when that is absolute, else $HOME/.local/state/Ostrel when HOME
//     is set and not empty, else <temporary directory>/Ostrel-<uid>.
// A shared temporary folder is not used as it is: every user could plant files in it.
StateDirLocation locate_state_dir();
std::filesystem::path state_dir();

// The paths every store operation starts from. Built once per opened vault and never changed, so
// later changes of the environment do not move its state directory. Copy to share.
struct WorkspacePaths {
  std::filesystem::path workspace_root;
  std::filesystem::path vault_dir;
  std::filesystem::path vault_file;
  std::filesystem::path lock_file;  // always vault_dir / "vault.cord.lock"
  std::filesystem::path state_dir;
  // state_dir is the per-user folder under the shared temporary directory.
  bool state_dir_in_shared_temp = false;

  // The vault file defaults to vault_dir / "vault.cord"; the state directory is resolved now.
  WorkspacePaths(std::filesystem::path workspace_root, std::filesystem::path vault_dir,
                 std::optional<std::filesystem::path> vault_file = std::nullopt);

  // vault_dir is the file's parent (an empty path, the current directory, for a bare name);
  // the workspace root is vault_dir's parent when vault_dir is named exactly ".ostrel", else
  // vault_dir itself.
  static WorkspacePaths for_vault_file(const std::filesystem::path& vault_file);

  // Files of one trusted root, named by the hex of the root's id bytes (any length).
  std::filesystem::path ratchet_path(std::span<const std::uint8_t> root) const;
  std::filesystem::path state_lock_path(std::span<const std::uint8_t> root) const;
  std::filesystem::path transaction_path(std::span<const std::uint8_t> root) const;
  std::filesystem::path join_commit_path(std::span<const std::uint8_t> root) const;
  std::filesystem::path cache_path(std::span<const std::uint8_t> root,
                                   std::span<const std::uint8_t> user) const;

  friend bool operator==(const WorkspacePaths&, const WorkspacePaths&) = default;
};

// Touches the file system. Makes sure the state directory may be trusted before anything under it
// is locked, read or written: when it is the fallback under the shared temporary directory, the
// folder is created (mode 0700) if missing and must then be a directory, not a link, owned by
// this user, with no group or other access. Otherwise fails with StoreError::Io at that folder,
// "state directory is not private to this user". Other state directories pass unchecked.
// Called by StateLock::acquire and by every writer of a state file.
StoreResult<void> prepare_state_dir(const WorkspacePaths& paths);

}  // namespace ostrel::store
