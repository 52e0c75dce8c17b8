// The ratchet file: magic and decoding failures, exactly one trusted root, unknown entries kept
// byte for byte, the root check of the loader and the writer, the size limits, and the verified
// private write, against real files.
#include "store/ratchet_file.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/hex.h"
#include "support/scratch.h"

namespace ostrel::store {
namespace {

using ostrel::testing::from_hex;
using ostrel::testing::mode_of;
using ostrel::testing::read_file;
using ostrel::testing::ScopedEnv;
using ostrel::testing::ScratchDir;
using ostrel::testing::to_hex;
using ostrel::testing::write_file;
using validate::RatchetState;
using Bytes = std::vector<std::uint8_t>;

// "ostrel-ratchet" and its NUL, spelled out apart from the code under test.
const std::string kMagicHex = "6f737472656c2d72617463686574" "00";

HashValue h(std::uint8_t fill) { return HashValue(Bytes(32, fill)); }
std::string hex32(std::uint8_t fill) { return to_hex(Bytes(32, fill)); }

// The framed TrustedRoot entry of a 32-byte root: length 40, index 9, the 32 bytes.
std::string root_entry(std::uint8_t fill) { return "00000028" "00000009" "00000020" + hex32(fill); }
// The framed FormatVersion 1 entry.
const std::string kFormatVersion1 = "0000000c" "00000008" "0000000000000001";
// A later version's entry: index 10 and two bytes of its own.
const std::string kLaterEntry = "00000006" "0000000a" "beef";

Bytes file_of(const std::string& hex_after_magic) { return from_hex(kMagicHex + hex_after_magic); }

void write_bytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::filesystem::create_directories(path.parent_path());
  write_file(path, std::string(bytes.begin(), bytes.end()));
}

RatchetState sample_state() {
  RatchetState s = RatchetState::fresh(h(0xaa));
  s.apply_record(core::UserRatchetRecordV1{UserId(h(1)), 7});
  s.apply_record(core::UserHandleRatchetRecordV1{UserHandleId(h(2)), 3, "alice"});
  s.apply_record(
      core::SecretRatchetRecordV1{SecretId(h(3)), 9, core::SecretSelectorV1{{"app", "db"}, {{"env", "prod"}}}});
  s.apply_record(core::GroupMemberRatchetRecordV1{
      GroupMemberId(h(4)), 2, core::GroupMemberIdInputV1{GroupId(h(5)), core::PrincipalRefV1(UserId(h(1)))}});
  s.format_version = 1;
  s.raw_records = {from_hex("0000000a" "beef"), from_hex("0000000b")};
  return s;
}

// A workspace whose state directory is a scratch folder.
struct Workspace {
  ScratchDir dir;
  ScopedEnv state_dir{"OSTREL_STATE_DIR", (dir / "state").string()};
  WorkspacePaths paths = WorkspacePaths::for_vault_file(dir / ".ostrel" / "vault.cord");

  std::filesystem::path ratchet(std::uint8_t root) const { return paths.ratchet_path(h(root).bytes); }
};

TEST(RatchetFileParse, Failures) {
  const std::filesystem::path path = "state/aa/ratchet.cord";
  const std::string prefix = "ratchet file state/aa/ratchet.cord is invalid: ";
  struct Case {
    const char* name;
    Bytes bytes;
    std::string want;
  };
  const Case cases[] = {
      {"empty", {}, "Cord could not validate: not a ostrel state file (missing magic prefix)"},
      {"magic_without_nul", from_hex("6f737472656c2d72617463686574"),
       "Cord could not validate: not a ostrel state file (missing magic prefix)"},
      {"vault_magic", from_hex("6f737472656c2d7661756c74" "00" "00000000" "00000000"),
       "Cord could not validate: not a ostrel state file (missing magic prefix)"},
      {"magic_only", file_of(""), "Unexpected end of input"},
      {"store_variant_1", file_of("00000001" "00000000"), "Cord encountered unknown enum variant index 1"},
      {"no_entries", file_of("00000000" "00000000"),
       "Cord could not validate: ratchet file missing its trusted-root record"},
      {"no_root", file_of("00000000" "00000001" + kFormatVersion1),
       "Cord could not validate: ratchet file missing its trusted-root record"},
      {"two_roots", file_of("00000000" "00000002" + root_entry(1) + root_entry(2)),
       "Cord could not validate: ratchet file has several trusted-root records"},
      {"count_above_length_limit", file_of("00000000" "01000001"),
       "Cord length limit exceeded: 16777217 exceeds maximum of 16777216"},
      {"entries_out_of_order", file_of("00000000" "00000002" + root_entry(1) + kFormatVersion1),
       "Cord deserialization error: Duplicate element in set"},
      {"byte_after_the_set", file_of("00000000" "00000001" + root_entry(1) + "00"),
       "Trailing bytes after deserialization"},
      // Entries are applied as they are read: a refusal of the entries still waits for the whole file.
      {"two_roots_then_a_byte", file_of("00000000" "00000002" + root_entry(1) + root_entry(2) + "00"),
       "Trailing bytes after deserialization"},
      {"byte_inside_an_entry", file_of("00000000" "00000001" "0000000d" "00000008" "0000000000000001" "00"),
       "Cord deserialization error: trailing bytes in evolving payload"},
  };
  for (const Case& c : cases) {
    auto r = parse_ratchet_file(path, c.bytes);
    ASSERT_FALSE(r) << c.name;
    ASSERT_TRUE(r.error().kind() == StoreError::RatchetInvalid) << c.name << ": " << r.error().message();
    EXPECT_EQ(r.error().path(), path) << c.name;
    EXPECT_EQ(r.error().message(), prefix + c.want) << c.name;
    // Checking a file without making its state refuses it alike.
    auto checked = check_ratchet_file(path, c.bytes);
    ASSERT_FALSE(checked) << c.name;
    EXPECT_EQ(checked.error().message(), r.error().message()) << c.name;
  }
  auto valid = check_ratchet_file(path, file_of("00000000" "00000002" + kFormatVersion1 + root_entry(7)));
  ASSERT_TRUE(valid) << valid.error().message();
  EXPECT_EQ(*valid, h(7));
}

TEST(RatchetFileParse, SmallestFileAndUnknownEntries) {
  // Root alone: 15 + 4 + 4 + 44 bytes.
  auto only_root = parse_ratchet_file("r", file_of("00000000" "00000001" + root_entry(0xaa)));
  ASSERT_TRUE(only_root) << only_root.error().message();
  EXPECT_EQ(*only_root, RatchetState::fresh(h(0xaa)));

  // An unknown entry changes no counter and comes back byte for byte.
  const Bytes file = file_of("00000000" "00000003" + kLaterEntry + kFormatVersion1 + root_entry(0xaa));
  auto s = parse_ratchet_file("r", file);
  ASSERT_TRUE(s) << s.error().message();
  EXPECT_TRUE(s->counters.empty());
  EXPECT_EQ(s->format_version, 1u);
  EXPECT_EQ(s->raw_records, std::vector<Bytes>{from_hex("0000000a" "beef")});
  auto again = encode_ratchet_file(*s);
  ASSERT_TRUE(again) << again.error().message();
  EXPECT_EQ(to_hex(*again), to_hex(file));
}

TEST(RatchetFileCodec, EncodeLayoutAndRoundTrip) {
  EXPECT_EQ(to_hex(*encode_ratchet_file(RatchetState::fresh(h(0xaa)))),
            kMagicHex + "00000000" "00000001" + root_entry(0xaa));

  const RatchetState s = sample_state();
  auto file = encode_ratchet_file(s);
  ASSERT_TRUE(file) << file.error().message();
  // Shortest payloads first: the two raw entries (4 and 6 bytes), FormatVersion, TrustedRoot.
  EXPECT_EQ(to_hex(*file).substr(0, kMagicHex.size() + 16 + 16 + kLaterEntry.size() + kFormatVersion1.size() + 88),
            kMagicHex + "00000000" "00000008" "00000004" "0000000b" + kLaterEntry + kFormatVersion1 + root_entry(0xaa));
  auto back = parse_ratchet_file("r", *file);
  ASSERT_TRUE(back) << back.error().message();
  EXPECT_EQ(back->trusted_root, s.trusted_root);
  EXPECT_EQ(back->counters, s.counters);
  EXPECT_EQ(back->bindings, s.bindings);
  EXPECT_EQ(back->format_version, s.format_version);
  EXPECT_EQ(back->raw_records, (std::vector<Bytes>{from_hex("0000000b"), from_hex("0000000a" "beef")}));

  // Two equal raw entries cannot both be written.
  RatchetState twice = RatchetState::fresh(h(0xaa));
  twice.raw_records = {from_hex("0000000b"), from_hex("0000000b")};
  auto r = encode_ratchet_file(twice);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "Cord error: Cord serialization error: Duplicate element in set");
}

// The state parsed from a file keeps nothing of the file's bytes: with them overwritten and freed,
// its handles, selector texts, labels and raw entries are all still there.
TEST(RatchetFileParse, StateOwnsWhatItKeepsOfTheFile) {
  const RatchetState want = sample_state();
  auto file = encode_ratchet_file(want);
  ASSERT_TRUE(file) << file.error().message();
  Bytes bytes(file->begin(), file->end());
  auto got = parse_ratchet_file("r", bytes);
  ASSERT_TRUE(got) << got.error().message();
  std::fill(bytes.begin(), bytes.end(), 0xff);
  bytes = Bytes();
  EXPECT_EQ(got->counters, want.counters);
  EXPECT_EQ(got->bindings, want.bindings);
  std::vector<Bytes> raw = got->raw_records;
  std::vector<Bytes> want_raw = want.raw_records;
  std::sort(raw.begin(), raw.end());
  std::sort(want_raw.begin(), want_raw.end());
  EXPECT_EQ(raw, want_raw);
}

TEST(RatchetFileStore, SaveThenLoadIsPrivateAndKeepsEverything) {
  Workspace w;
  auto missing = load_ratchet(w.paths, h(0xaa));
  ASSERT_TRUE(missing) << missing.error().message();
  EXPECT_FALSE(missing->has_value());

  const RatchetState s = sample_state();
  ASSERT_TRUE(save_ratchet(w.paths, s));
  EXPECT_EQ(w.ratchet(0xaa), w.dir / "state" / hex32(0xaa) / "ratchet.cord");
  EXPECT_EQ(mode_of(w.ratchet(0xaa)), 0600u);
  EXPECT_EQ(read_file(w.ratchet(0xaa)).substr(0, 15), std::string("ostrel-ratchet\0", 15));

  auto loaded = load_ratchet(w.paths, h(0xaa));
  ASSERT_TRUE(loaded) << loaded.error().message();
  ASSERT_TRUE(loaded->has_value());
  EXPECT_EQ((*loaded)->counters, s.counters);
  EXPECT_EQ((*loaded)->bindings, s.bindings);
  EXPECT_EQ((*loaded)->format_version, s.format_version);

  // A hand-written file with a later version's entry survives a load and a save unchanged.
  const std::string file = kMagicHex + "00000000" "00000002" + kLaterEntry + root_entry(0xbb);
  write_bytes(w.ratchet(0xbb), from_hex(file));
  auto kept = load_ratchet(w.paths, h(0xbb));
  ASSERT_TRUE(kept && kept->has_value()) << (kept ? "none" : kept.error().message());
  ASSERT_TRUE(save_ratchet(w.paths, **kept));
  EXPECT_EQ(to_hex(ostrel::testing::bytes(read_file(w.ratchet(0xbb)))), file);
}

TEST(RatchetFileStore, LoadFailures) {
  Workspace w;
  // A file in root A's folder that names root B.
  write_bytes(w.ratchet(0xaa), *encode_ratchet_file(RatchetState::fresh(h(0xbb))));
  auto wrong_root = load_ratchet(w.paths, h(0xaa));
  ASSERT_FALSE(wrong_root);
  EXPECT_EQ(wrong_root.error(), StoreError::trust_root_mismatch(h(0xbb), h(0xaa)));

  // One byte above the limit is refused by the read, before any decoding.
  std::filesystem::resize_file(w.ratchet(0xaa), kMaxRatchetFileBytes + 1);
  auto too_large = load_ratchet(w.paths, h(0xaa));
  ASSERT_FALSE(too_large);
  EXPECT_EQ(too_large.error().message(), "I/O error at " + w.ratchet(0xaa).string() +
                                             ": file is 268435457 bytes, above the supported maximum of 268435456");

  std::filesystem::create_directories(w.ratchet(0xcc));
  auto directory = load_ratchet(w.paths, h(0xcc));
  ASSERT_FALSE(directory);
  EXPECT_EQ(directory.error().message(), "I/O error at " + w.ratchet(0xcc).string() + ": not a regular file");

  write_file(w.ratchet(0xaa), "ostrel-ratchet");
  auto no_magic = load_ratchet(w.paths, h(0xaa));
  ASSERT_FALSE(no_magic);
  EXPECT_TRUE(no_magic.error().kind() == StoreError::RatchetInvalid);
}

TEST(RatchetFileStore, WriterRefusesBeforeWriting) {
  Workspace w;
  ASSERT_TRUE(save_ratchet(w.paths, RatchetState::fresh(h(0xaa))));
  const std::string before = read_file(w.ratchet(0xaa));

  // Bytes of another root.
  const auto other = *encode_ratchet_file(RatchetState::fresh(h(0xbb)));
  auto mismatch = write_ratchet_bytes(w.paths, h(0xaa), other);
  ASSERT_FALSE(mismatch);
  EXPECT_EQ(mismatch.error(), StoreError::trust_root_mismatch(h(0xbb), h(0xaa)));

  // Bytes that do not parse.
  auto garbage = write_ratchet_bytes(w.paths, h(0xaa), file_of("00000000" "00000000"));
  ASSERT_FALSE(garbage);
  EXPECT_TRUE(garbage.error().kind() == StoreError::RatchetInvalid);

  // Bytes above the limit, checked before they are looked at: untouched zero pages cost nothing.
  const std::size_t n = kMaxRatchetFileBytes + 1;
  void* pages = ::mmap(nullptr, n, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(pages, MAP_FAILED);
  auto too_large = write_ratchet_bytes(w.paths, h(0xaa), {static_cast<const std::uint8_t*>(pages), n});
  ::munmap(pages, n);
  ASSERT_FALSE(too_large);
  EXPECT_EQ(too_large.error().message(), "I/O error at " + w.ratchet(0xaa).string() +
                                             ": ratchet is 268435457 bytes, above the supported maximum of 268435456");

  EXPECT_EQ(read_file(w.ratchet(0xaa)), before);
  EXPECT_EQ(ostrel::testing::entries(w.ratchet(0xaa).parent_path()), std::vector<std::string>{"ratchet.cord"});
}

}  // namespace
}  // namespace ostrel::store
