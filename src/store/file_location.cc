#include "store/file_location.h"

#include <cerrno>
#include <utility>

namespace ostrel::store {

IoResult<FileLocation> FileLocation::resolve(const std::filesystem::path& path) {
  std::filesystem::path target = path;
  if (auto entry = platform::lstat(path); entry && entry->type == platform::FileType::Symlink) {
    auto real = platform::real_path(path);
    if (!real) return std::unexpected(IoError::from_os(real.error().code));
    auto info = platform::stat(*real);
    if (!info) return std::unexpected(IoError::from_os(info.error().code));
    if (info->type != platform::FileType::Regular) return std::unexpected(IoError(IoError::InvalidInput, "not a regular file"));
    target = std::move(*real);
  }
  std::filesystem::path name = target.filename();
  if (name.empty() || name == "." || name == "..") return std::unexpected(IoError::from_os(EISDIR));
  std::filesystem::path folder_path = target.parent_path();
  auto folder = platform::open_directory(folder_path);
  if (!folder) return std::unexpected(IoError::from_os(folder.error().code));
  return FileLocation(std::make_shared<const platform::File>(std::move(*folder)), path, std::move(target),
                      std::move(folder_path), std::move(name));
}

std::optional<platform::FileInfo> FileLocation::entry() const {
  auto info = platform::lstat_at(*folder_, name_);
  if (!info) return std::nullopt;
  return *info;
}

bool ReplaceOnly::allows(const std::optional<platform::FileInfo>& entry) const {
  switch (kind_) {
    case Kind::Anything:
      return true;
    case Kind::Nothing:
      return !entry;
    case Kind::File:
      return entry && entry->type == platform::FileType::Regular && entry->id == id_;
  }
  return false;
}

}  // namespace ostrel::store
