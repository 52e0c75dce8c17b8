// Where a stored file lives, resolved once: an open handle on the folder that holds it and the
// file's name there. Reads, the temporary file and the rename of a write all work relative to that
// handle and never follow a link at the name, so a link or folder swapped after the resolution
// cannot redirect a write to another file. Copies share the handle; safe from any thread.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "errors/store_error.h"
#include "platform/file.h"

namespace ostrel::store {

class FileLocation {
 public:
  // Resolves `path` now. A symbolic link at the name stands for the regular file it leads to,
  // whose folder and name are used from then on; a link that leads nowhere is kind NotFound, one
  // to anything but a regular file kind InvalidInput "not a regular file". The folder must exist
  // (kind NotFound otherwise); the file need not.
  static IoResult<FileLocation> resolve(const std::filesystem::path& path);

  // The file's path: `path` as given, or for a link the file it leads to. I/O errors name it.
  const std::filesystem::path& path() const { return path_; }
  // `path` as given to resolve: what a file's own refusals name.
  const std::filesystem::path& requested() const { return requested_; }
  const std::filesystem::path& folder_path() const { return folder_path_; }
  const std::filesystem::path& name() const { return name_; }
  const platform::File& folder() const { return *folder_; }
  // What the name holds now (a link there is not followed); none when it holds nothing.
  std::optional<platform::FileInfo> entry() const;

 private:
  FileLocation(std::shared_ptr<const platform::File> folder, std::filesystem::path requested,
               std::filesystem::path path, std::filesystem::path folder_path, std::filesystem::path name)
      : folder_(std::move(folder)), requested_(std::move(requested)), path_(std::move(path)),
        folder_path_(std::move(folder_path)), name_(std::move(name)) {}

  std::shared_ptr<const platform::File> folder_;
  std::filesystem::path requested_;
  std::filesystem::path path_;
  std::filesystem::path folder_path_;
  std::filesystem::path name_;
};

// What a write requires of the file it replaces, looked at just before the rename: anything, no
// file at all, or exactly the file that was read (by device and inode).
class ReplaceOnly {
 public:
  static ReplaceOnly anything() { return ReplaceOnly(Kind::Anything, {}); }
  static ReplaceOnly nothing() { return ReplaceOnly(Kind::Nothing, {}); }
  static ReplaceOnly file(platform::FileId id) { return ReplaceOnly(Kind::File, id); }
  // The file that was read, or nothing when none was found.
  static ReplaceOnly file_read(const std::optional<platform::FileId>& id) { return id ? file(*id) : nothing(); }

  // Whether the entry now at the name (its metadata, none when missing) is what may be replaced.
  bool allows(const std::optional<platform::FileInfo>& entry) const;

 private:
  enum class Kind { Anything, Nothing, File };
  ReplaceOnly(Kind kind, platform::FileId id) : kind_(kind), id_(id) {}
  Kind kind_;
  platform::FileId id_;
};

// How a write guarded by ReplaceOnly ended: written, or refused because the name no longer held
// the file required (nothing was written then).
enum class [[nodiscard]] WriteOutcome { Written, TargetChanged };

}  // namespace ostrel::store
