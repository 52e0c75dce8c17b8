#include "store/paths.h"

#include <cerrno>
#include <string_view>
#include <utility>
#include <vector>

#include "core/hex.h"
#include "platform/env.h"
#include "platform/file.h"

namespace ostrel::store {
namespace {

// A path split the way its components read: separators collapse, and "." is kept only as a
// leading component, so "x/.ostrel/./vault.cord" has the parent "x/.ostrel".
struct Components {
  bool absolute = false;
  std::vector<std::string> parts;

  explicit Components(const std::filesystem::path& p) {
    const std::string& s = p.native();
    absolute = !s.empty() && s.front() == '/';
    std::size_t i = 0;
    while (i <= s.size()) {
      const std::size_t end = std::min(s.find('/', i), s.size());
      std::string part = s.substr(i, end - i);
      const bool leading = parts.empty() && !absolute && i == 0;
      if (!part.empty() && (part != "." || leading)) parts.push_back(std::move(part));
      i = end + 1;
    }
  }

  // The path without its last component; nothing for an empty path or a bare root.
  std::optional<std::filesystem::path> parent() const {
    if (parts.empty()) return std::nullopt;
    std::string out = absolute ? "/" : "";
    for (std::size_t k = 0; k + 1 < parts.size(); ++k) {
      if (k > 0) out += '/';
      out += parts[k];
    }
    return std::filesystem::path(out);
  }

  // The last component when it names an entry (not ".", "..", or a root).
  std::optional<std::string_view> file_name() const {
    if (parts.empty() || parts.back() == "." || parts.back() == "..") return std::nullopt;
    return parts.back();
  }
};

constexpr std::string_view kWorkspaceDirName = ".ostrel";
constexpr std::string_view kStateFolder = "Ostrel";

std::filesystem::path root_dir(const std::filesystem::path& state_dir,
                               std::span<const std::uint8_t> root) {
  return state_dir / core::hex_encode(root);
}

}  // namespace

StateDirLocation locate_state_dir() {
  if (auto dir = platform::env_var("OSTREL_STATE_DIR")) return {std::filesystem::path(*dir), false};
  if (auto appdata = platform::env_var("APPDATA")) {
    return {std::filesystem::path(*appdata) / kStateFolder, false};
  }
  if (auto xdg = platform::env_var("XDG_STATE_HOME"); xdg && !xdg->empty() && xdg->front() == '/') {
    return {std::filesystem::path(*xdg) / kStateFolder, false};
  }
  if (auto home = platform::env_var("HOME"); home && !home->empty()) {
    return {std::filesystem::path(*home) / ".local" / "state" / kStateFolder, false};
  }
  std::string name(kStateFolder);
  name += '-';
  name += std::to_string(platform::effective_user_id());
  return {platform::temp_dir() / name, true};
}

std::filesystem::path state_dir() { return locate_state_dir().dir; }

WorkspacePaths::WorkspacePaths(std::filesystem::path workspace_root_in,
                               std::filesystem::path vault_dir_in,
                               std::optional<std::filesystem::path> vault_file_in)
    : workspace_root(std::move(workspace_root_in)), vault_dir(std::move(vault_dir_in)) {
  vault_file = vault_file_in ? std::move(*vault_file_in) : vault_dir / "vault.cord";
  lock_file = vault_dir / "vault.cord.lock";
  StateDirLocation location = locate_state_dir();
  state_dir = std::move(location.dir);
  state_dir_in_shared_temp = location.in_shared_temp;
}

WorkspacePaths WorkspacePaths::for_vault_file(const std::filesystem::path& vault_file) {
  std::filesystem::path dir = Components(vault_file).parent().value_or(".");
  const Components dir_parts(dir);
  std::filesystem::path root =
      dir_parts.file_name() == kWorkspaceDirName ? dir_parts.parent().value_or(".") : dir;
  return WorkspacePaths(std::move(root), std::move(dir), vault_file);
}

std::filesystem::path WorkspacePaths::ratchet_path(std::span<const std::uint8_t> root) const {
  return root_dir(state_dir, root) / "ratchet.cord";
}

std::filesystem::path WorkspacePaths::state_lock_path(std::span<const std::uint8_t> root) const {
  return root_dir(state_dir, root) / "state.lock";
}

std::filesystem::path WorkspacePaths::transaction_path(std::span<const std::uint8_t> root) const {
  return root_dir(state_dir, root) / "transaction.cord";
}

std::filesystem::path WorkspacePaths::join_commit_path(std::span<const std::uint8_t> root) const {
  return ratchet_path(root).replace_filename("join-commit.cord");
}

std::filesystem::path WorkspacePaths::cache_path(std::span<const std::uint8_t> root,
                                                 std::span<const std::uint8_t> user) const {
  return root_dir(state_dir, root) / core::hex_encode(user) / "cache.cord";
}

StoreResult<void> prepare_state_dir(const WorkspacePaths& paths) {
  if (!paths.state_dir_in_shared_temp) return {};
  const std::filesystem::path& dir = paths.state_dir;
  // Something already standing at that name is judged below like an existing folder.
  if (auto made = platform::create_dir_all(dir, 0700); !made && made.error().code != EEXIST) {
    return std::unexpected(StoreError::io(dir, IoError::from_os(made.error().code)));
  }
  // lstat, so that a link planted in the shared folder is refused rather than followed.
  auto info = platform::lstat(dir);
  if (!info) return std::unexpected(StoreError::io(dir, IoError::from_os(info.error().code)));
  if (info->type != platform::FileType::Directory || info->uid != platform::effective_user_id() ||
      (info->mode & 077) != 0) {
    return std::unexpected(StoreError::io(
        dir, IoError(IoError::PermissionDenied, "state directory is not private to this user")));
  }
  return {};
}

}  // namespace ostrel::store
