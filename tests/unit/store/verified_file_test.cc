// The verified writer shared by every stored file, on a format of its own: the order of its
// checks, and which of the format's errors reports each failure.
#include "store/verified_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scratch.h"

namespace ostrel::store {
namespace {

using ostrel::testing::bytes;
using ostrel::testing::entries;
using ostrel::testing::read_file;
using ostrel::testing::ScratchDir;
using ostrel::testing::write_file;

constexpr FileFormat kNoteFile{
    .magic = {"ostrel-note\0", 12},
    .magic_name = "note",
    .subject = "note",
    .max_bytes = 16,
    .access = FileAccess::Private,
    .read_failed = [](const std::filesystem::path& path, IoError error) {
      return StoreError::io(path, std::move(error));
    },
    .invalid = [](const std::filesystem::path& path, std::string message) {
      return StoreError::transaction_invalid(path, std::move(message));
    },
};

StoreResult<void> nothing() { return {}; }

TEST(VerifiedFile, MagicIsCheckedAndStartsEveryEncoding) {
  const cord::Buffer start = start_file(kNoteFile, 4);
  EXPECT_EQ(std::string(start.begin(), start.end()), std::string("ostrel-note\0", 12));
  EXPECT_TRUE(has_magic(kNoteFile, start));
  EXPECT_FALSE(has_magic(kNoteFile, std::span(start).first(11)));
  EXPECT_FALSE(has_magic(kNoteFile, bytes("ostrel-nota\0")));
  EXPECT_EQ(missing_magic_message(kNoteFile), "not a ostrel note file (missing magic prefix)");
}

TEST(VerifiedFile, WriteChecksSizeThenTheFilesOwnChecksThenReadsBack) {
  ScratchDir d;
  const std::filesystem::path path = d / "notes" / "a.note";
  std::vector<std::string> steps;
  auto before = [&] {
    steps.push_back("before");
    return nothing();
  };
  auto after = [&](std::span<const std::uint8_t> written) {
    steps.push_back("after " + std::string(written.begin(), written.end()));
    return nothing();
  };

  auto too_large = write_verified(path, bytes(std::string(17, 'x')), kNoteFile, before, after);
  ASSERT_FALSE(too_large);
  EXPECT_EQ(too_large.error().message(),
            "transaction file " + path.string() + " is invalid: note is 17 bytes, above the supported maximum of 16");
  EXPECT_TRUE(steps.empty()) << "nothing runs, nothing is written after the size refusal";
  EXPECT_FALSE(std::filesystem::exists(d / "notes"));

  ASSERT_TRUE(write_verified(path, bytes(std::string(16, 'y')), kNoteFile, before, after));
  EXPECT_EQ(steps, (std::vector<std::string>{"before", "after " + std::string(16, 'y')}));
  EXPECT_EQ(read_file(path), std::string(16, 'y'));
  EXPECT_EQ(entries(d / "notes"), std::vector<std::string>{"a.note"});

  // A refusal of the file's own checks stops the write with the old file in place.
  auto blocked = [&]() -> StoreResult<void> { return std::unexpected(StoreError::pending_transaction(path)); };
  auto refused = write_verified(path, bytes("z"), kNoteFile, blocked, after);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind(), StoreError::PendingTransaction);
  EXPECT_EQ(read_file(path), std::string(16, 'y'));
}

TEST(VerifiedFile, ReadsAreBoundedAndReportedByTheFormat) {
  ScratchDir d;
  write_file(d / "big.note", std::string(17, 'x'));
  auto big = read_stored_file(d / "big.note", kNoteFile);
  ASSERT_FALSE(big);
  EXPECT_EQ(big.error().message(),
            "I/O error at " + (d / "big.note").string() + ": file is 17 bytes, above the supported maximum of 16");

  // The read-back goes through the same reader, so a file the format cannot read back fails
  // after the write, with the new file in place.
  auto unreadable = replace_and_read_back(*FileLocation::resolve(d / "big.note"), bytes(std::string(20, 'w')), kNoteFile,
                                          ReplaceOnly::anything());
  ASSERT_FALSE(unreadable);
  EXPECT_EQ(unreadable.error().kind(), StoreError::Io);
  EXPECT_EQ(read_file(d / "big.note"), std::string(20, 'w'));
}

}  // namespace
}  // namespace ostrel::store
