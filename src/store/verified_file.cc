#include "store/verified_file.h"

#include <algorithm>
#include <utility>

#include "errors/shared_texts.h"

namespace ostrel::store {

StoreError io_read_failed(const std::filesystem::path& path, IoError error) {
  return StoreError::io(path, std::move(error));
}

StoreError io_refused(const std::filesystem::path& path, std::string message) {
  return StoreError::io(path, IoError(IoError::InvalidData, std::move(message)));
}

bool has_magic(const FileFormat& format, std::span<const std::uint8_t> bytes) {
  return bytes.size() >= format.magic.size() &&
         std::equal(format.magic.begin(), format.magic.end(), bytes.begin(),
                    [](char m, std::uint8_t b) { return static_cast<std::uint8_t>(m) == b; });
}

std::string missing_magic_message(const FileFormat& format) {
  std::string out = "not a ostrel ";
  out.append(format.magic_name).append(" file (missing magic prefix)");
  return out;
}

cord::Buffer start_file(const FileFormat& format, std::size_t payload_bytes) {
  cord::Buffer out;
  out.reserve(format.magic.size() + payload_bytes);
  out.insert(out.end(), format.magic.begin(), format.magic.end());
  return out;
}

StoreResult<std::vector<std::uint8_t>> read_stored_file(const std::filesystem::path& path, const FileFormat& format) {
  auto bytes = read_regular_file_bounded(path, format.max_bytes);
  if (!bytes) return std::unexpected(format.read_failed(path, std::move(bytes).error()));
  return std::move(*bytes);
}

StoreResult<void> check_size(const std::filesystem::path& path, std::uint64_t size, const FileFormat& format) {
  if (size <= format.max_bytes) return {};
  return std::unexpected(format.invalid(path, errors::size_above_maximum(format.subject, size, format.max_bytes)));
}

StoreResult<FileContents> read_stored_file(const FileLocation& at, const FileFormat& format) {
  auto contents = read_regular_file_bounded(at, format.max_bytes);
  if (!contents) return std::unexpected(format.read_failed(at.requested(), std::move(contents).error()));
  return std::move(*contents);
}

namespace {

StoreError differed(const FileLocation& at, const FileFormat& format) {
  std::string message(format.subject);
  message.append(" bytes differed immediately after atomic write");
  return format.invalid(at.requested(), std::move(message));
}

}  // namespace

StoreResult<WriteOutcome> write_checked(const FileLocation& at, Pieces pieces, const FileFormat& format,
                                        ReplaceOnly only) {
  std::uint64_t total = 0;
  for (std::span<const std::uint8_t> piece : pieces) total += piece.size();
  OSTREL_TRY(check_size(at.requested(), total, format));
  OSTREL_TRY_ASSIGN(const WriteOutcome outcome, write_atomic(at, pieces, format.access, only));
  if (outcome == WriteOutcome::TargetChanged) return outcome;
  auto holds = file_holds(at, pieces, format.max_bytes,
                          format.uncached_once_checked ? AfterCheck::DropCached : AfterCheck::KeepCached);
  if (!holds) return std::unexpected(format.read_failed(at.requested(), std::move(holds).error()));
  if (!*holds) return std::unexpected(differed(at, format));
  return WriteOutcome::Written;
}

StoreResult<std::optional<cord::Buffer>> replace_and_read_back(const FileLocation& at,
                                                                           std::span<const std::uint8_t> bytes,
                                                                           const FileFormat& format,
                                                                           ReplaceOnly only) {
  OSTREL_TRY_ASSIGN(const WriteOutcome outcome, write_atomic(at, bytes, format.access, only));
  if (outcome == WriteOutcome::TargetChanged) return std::nullopt;
  // Read through the same folder handle: whatever a link leads to now cannot pass for this file.
  OSTREL_TRY_ASSIGN(FileContents written, read_stored_file(at, format));
  if (!std::ranges::equal(written.bytes, bytes)) return std::unexpected(differed(at, format));
  return std::optional(std::move(written.bytes));
}

}  // namespace ostrel::store
