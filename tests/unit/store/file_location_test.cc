// A file's location is resolved once; reads and guarded writes at it never follow a link that
// stands at its name later, and a write replaces only what its guard allows.
#include "store/file_location.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "store/io.h"
#include "support/scratch.h"

namespace ostrel::store {
namespace {

namespace fs = std::filesystem;
using ostrel::testing::bytes;
using ostrel::testing::entries;
using ostrel::testing::read_file;
using ostrel::testing::ScratchDir;
using ostrel::testing::write_file;

const std::string kPrecious = "precious";

TEST(FileLocation, ALinkIsFollowedOnceAndNeverAgain) {
  ScratchDir d;
  fs::create_directories(d / "data");
  write_file(d / "data/real.cord", "real");
  write_file(d / "victim", kPrecious);
  fs::create_symlink(d / "data/real.cord", d / "vault.cord");

  auto at = FileLocation::resolve(d / "vault.cord");
  ASSERT_TRUE(at) << at.error().message();
  EXPECT_EQ(at->requested(), d / "vault.cord");
  EXPECT_EQ(at->path(), fs::canonical(d / "data/real.cord"));

  // The link now leads elsewhere: the location still reads and writes the file it resolved.
  fs::remove(d / "vault.cord");
  fs::create_symlink(d / "victim", d / "vault.cord");
  auto read = read_regular_file_bounded(*at, 100);
  ASSERT_TRUE(read);
  EXPECT_TRUE(std::ranges::equal(read->bytes, bytes("real")));
  ASSERT_TRUE(write_atomic(*at, bytes("new"), FileAccess::Workspace, ReplaceOnly::file(read->info.id)));
  EXPECT_EQ(read_file(d / "data/real.cord"), "new");
  EXPECT_EQ(read_file(d / "victim"), kPrecious);

  // A link standing at the resolved name itself is not followed by a read.
  fs::remove(d / "data/real.cord");
  fs::create_symlink(d / "victim", d / "data/real.cord");
  auto through_link = read_regular_file_bounded(*at, 100);
  ASSERT_FALSE(through_link);
  EXPECT_EQ(through_link.error().kind(), IoError::InvalidInput);
  EXPECT_EQ(through_link.error().message(), "not a regular file");
}

TEST(FileLocation, WhatCannotBeResolved) {
  ScratchDir d;
  fs::create_directory(d / "dir");
  fs::create_symlink(d / "nowhere", d / "dangling");
  fs::create_symlink(d / "dir", d / "to-dir");
  struct Case {
    fs::path path;
    IoError::Kind want;
  };
  const Case cases[] = {
      {d / "dangling", IoError::NotFound},
      {d / "missing-folder/vault.cord", IoError::NotFound},
      {d / "to-dir", IoError::InvalidInput},
  };
  for (const Case& c : cases) {
    auto at = FileLocation::resolve(c.path);
    ASSERT_FALSE(at) << c.path;
    EXPECT_EQ(at.error().kind(), c.want) << c.path;
  }
  // A name with no file yet resolves: a first write creates it.
  EXPECT_TRUE(FileLocation::resolve(d / "dir/new.cord"));
}

TEST(AtomicWriteAtLocation, ReplacesOnlyWhatTheGuardAllows) {
  // What the name holds when the rename comes, after the file was read (or found missing).
  enum class Then { Unchanged, OtherFile, LinkToVictim, Removed };
  struct Case {
    const char* name;
    bool exists;  // whether the file exists when it is read
    Then then;
    bool guard_anything;  // ReplaceOnly::anything instead of the file read
    WriteOutcome want;
  };
  const Case cases[] = {
      {"same_file", true, Then::Unchanged, false, WriteOutcome::Written},
      {"still_missing", false, Then::Unchanged, false, WriteOutcome::Written},
      {"replaced_by_another_file", true, Then::OtherFile, false, WriteOutcome::TargetChanged},
      {"replaced_by_a_link", true, Then::LinkToVictim, false, WriteOutcome::TargetChanged},
      {"removed", true, Then::Removed, false, WriteOutcome::TargetChanged},
      {"created_meanwhile", false, Then::OtherFile, false, WriteOutcome::TargetChanged},
      {"link_created_meanwhile", false, Then::LinkToVictim, false, WriteOutcome::TargetChanged},
      // Unguarded, a link at the name is itself replaced, never written through.
      {"unguarded_over_a_link", true, Then::LinkToVictim, true, WriteOutcome::Written},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir d;
    const fs::path target = d / "ratchet.cord";
    write_file(d / "victim", kPrecious);
    if (c.exists) write_file(target, "old");
    auto at = FileLocation::resolve(target);
    ASSERT_TRUE(at);
    auto read = read_optional_file(*at, 100);
    ASSERT_TRUE(read);
    std::optional<platform::FileId> read_id;
    if (*read) read_id = (*read)->info.id;

    switch (c.then) {
      case Then::Unchanged:
        break;
      case Then::OtherFile:
        write_file(d / "planted", "planted");
        fs::rename(d / "planted", target);
        break;
      case Then::LinkToVictim:
        fs::remove(target);
        fs::create_symlink(d / "victim", target);
        break;
      case Then::Removed:
        fs::remove(target);
        break;
    }
    const std::vector<std::string> before = entries(d.path());
    const ReplaceOnly only = c.guard_anything ? ReplaceOnly::anything() : ReplaceOnly::file_read(read_id);
    auto outcome = write_atomic(*at, bytes("new"), FileAccess::Private, only);
    ASSERT_TRUE(outcome) << outcome.error().message();
    EXPECT_EQ(*outcome, c.want);
    EXPECT_EQ(read_file(d / "victim"), kPrecious);
    if (c.want == WriteOutcome::Written) {
      EXPECT_FALSE(fs::is_symlink(target));
      EXPECT_EQ(read_file(target), "new");
    } else {
      EXPECT_EQ(entries(d.path()), before);  // nothing written, no temporary file left
    }
  }
}

// The read-back of a write compares the file with the pieces it was written from, a slice at a
// time: a difference anywhere, in any piece or across a slice's edge, and a file of another
// length are found.
TEST(FileHolds, FindsEveryDifferenceAcrossPiecesAndSlices) {
  ScratchDir d;
  std::vector<std::uint8_t> content((3u << 20) + 17);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  write_file(d / "f", std::string(content.begin(), content.end()));
  auto at = FileLocation::resolve(d / "f");
  ASSERT_TRUE(at);
  const std::span<const std::uint8_t> all(content);
  const std::size_t cut = (1u << 20) - 1;  // a piece ends just before a slice does
  struct Case {
    const char* name;
    std::size_t flip;  // the byte changed in the expected copy; npos for none
    std::ptrdiff_t length_change;
    bool want;
  };
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  const Case cases[] = {
      {"same", kNone, 0, true},
      {"first_byte", 0, 0, false},
      {"last_byte_of_a_piece", cut - 1, 0, false},
      {"first_byte_of_a_piece", cut, 0, false},
      {"at_a_slice_edge", 1u << 20, 0, false},
      {"last_byte", content.size() - 1, 0, false},
      {"expected_shorter", kNone, -1, false},
      {"expected_longer", kNone, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> expected(content);
    if (c.flip != kNone) expected[c.flip] ^= 0x80;
    expected.resize(static_cast<std::size_t>(static_cast<std::ptrdiff_t>(expected.size()) + c.length_change), 1);
    const std::span<const std::uint8_t> e(expected);
    const std::size_t second = std::min(e.size(), cut + 5);
    const std::span<const std::uint8_t> pieces[] = {e.first(cut), e.subspan(cut, second - cut), {}, e.subspan(second)};
    auto holds = file_holds(*at, Pieces(pieces), 1u << 30);
    ASSERT_TRUE(holds) << holds.error().message();
    EXPECT_EQ(*holds, c.want);
  }
  const std::span<const std::uint8_t> whole[] = {all};
  auto above = file_holds(*at, Pieces(whole), content.size() - 1);
  ASSERT_FALSE(above);
  EXPECT_EQ(above.error().kind(), IoError::InvalidData);
}

}  // namespace
}  // namespace ostrel::store
