// The transaction journal's file: its layout, the validation rules in their order, the decoding
// failures, loading (missing, another root, a directory, too large), the verified private write,
// a journal of a vault above 16 MiB that must read back, and the stored form of paths.
#include "store/transaction_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "store/join_commit_file.h"
#include "support/hex.h"
#include "support/scratch.h"

namespace ostrel::store {
namespace {

using ostrel::testing::ScopedEnv;
using ostrel::testing::ScratchDir;
using Bytes = std::vector<std::uint8_t>;

HashValue h(std::uint8_t fill) { return HashValue(Bytes(32, fill)); }

// "ostrel-transaction" and its NUL, spelled out apart from the code under test.
const std::string kMagic = std::string("ostrel-transaction") + '\0';

TransactionV1 sample(const HashValue& root = h(0xaa)) {
  return TransactionV1{
      .id = Bytes(32, 1),
      .trusted_root = root,
      .vault_path = NativePathV1::Unix{ostrel::testing::bytes("/w/.ostrel/vault.cord")},
      .operation_label = "vault mutation",
      .vault_before = FilePreconditionV1::Digest{h(2)},
      .ratchet_before = FilePreconditionV1::Absent{},
      .next_vault_bytes = ostrel::testing::bytes("new vault"),
      .next_ratchet_bytes = ostrel::testing::bytes("new ratchet"),
  };
}

struct Workspace {
  ScratchDir dir;
  ScopedEnv state_dir{"OSTREL_STATE_DIR", (dir / "state").string()};
  WorkspacePaths paths = WorkspacePaths::for_vault_file(dir / ".ostrel" / "vault.cord");
  std::filesystem::path journal(std::uint8_t root = 0xaa) const { return paths.transaction_path(h(root).bytes); }
  void write_raw(const std::filesystem::path& path, const std::string& bytes) const {
    std::filesystem::create_directories(path.parent_path());
    ostrel::testing::write_file(path, bytes);
  }
};

std::string text_of(const cord::Buffer& b) { return std::string(b.begin(), b.end()); }

TEST(TransactionFile, EncodesTheMagicThenVariantZeroThenTheEightFields) {
  auto bytes = encode_transaction_file(sample());
  ASSERT_TRUE(bytes.has_value());
  const std::string hex = ostrel::testing::to_hex(Bytes(bytes->begin(), bytes->end()));
  // The magic, variant V1, then the id behind its length.
  const std::string want = ostrel::testing::to_hex(ostrel::testing::bytes(kMagic)) + "00000000" + "00000020" +
                           ostrel::testing::to_hex(Bytes(32, 1));
  EXPECT_EQ(hex.substr(0, want.size()), want);
  auto decoded = decode_transaction_file("j", *bytes);
  ASSERT_TRUE(decoded.has_value()) << decoded.error().message();
  EXPECT_EQ(*decoded, sample());
}

TEST(TransactionFile, ValidationRulesInOrder) {
  struct Case {
    const char* name;
    void (*change)(TransactionV1&);
    std::string reason;  // empty: valid
  };
  const Case cases[] = {
      {"id_31_bytes", [](TransactionV1& t) { t.id.pop_back(); }, "transaction ID must be exactly 32 bytes"},
      {"id_first_of_several", [](TransactionV1& t) { t.id.pop_back(); t.operation_label.clear(); },
       "transaction ID must be exactly 32 bytes"},
      {"empty_label", [](TransactionV1& t) { t.operation_label.clear(); },
       "transaction operation label is empty or too long"},
      {"label_129_bytes", [](TransactionV1& t) { t.operation_label = std::string(129, 'x'); },
       "transaction operation label is empty or too long"},
      {"label_128_bytes", [](TransactionV1& t) { t.operation_label = std::string(128, 'x'); }, ""},
      {"label_64_two_byte_characters",
       [](TransactionV1& t) {
         t.operation_label.clear();
         for (int i = 0; i < 64; ++i) t.operation_label += "\xc3\xa9";
       },
       ""},
      {"vault_digest_31_bytes",
       [](TransactionV1& t) { t.vault_before = FilePreconditionV1::Digest{HashValue(Bytes(31, 2))}; },
       "transaction file hash must be 32 bytes"},
      {"ratchet_digest_33_bytes",
       [](TransactionV1& t) { t.ratchet_before = FilePreconditionV1::Digest{HashValue(Bytes(33, 2))}; },
       "transaction file hash must be 32 bytes"},
      {"both_absent",
       [](TransactionV1& t) { t.vault_before = t.ratchet_before = FilePreconditionV1::Absent{}; }, ""},
      {"windows_path_odd",
       [](TransactionV1& t) { t.vault_path = NativePathV1::WindowsUtf16Le{Bytes{'C', 0, ':'}}; },
       "transaction Windows path has odd byte length"},
      {"windows_path_even",
       [](TransactionV1& t) { t.vault_path = NativePathV1::WindowsUtf16Le{Bytes{'C', 0, ':', 0}}; }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TransactionV1 t = sample();
    c.change(t);
    auto encoded = encode_transaction_file(t);
    if (c.reason.empty()) {
      ASSERT_TRUE(encoded.has_value()) << encoded.error().message();
      EXPECT_EQ(decode_transaction_file("j", *encoded), t);
    } else {
      ASSERT_FALSE(encoded.has_value());
      EXPECT_EQ(encoded.error().message(), "transaction file transaction.cord is invalid: " + c.reason);
    }
  }
}

TEST(TransactionFile, DecodingFailures) {
  const std::string good = text_of(*encode_transaction_file(sample()));
  const std::string payload = "transaction file /s/j is invalid: transaction Cord payload is invalid: ";
  TransactionV1 odd = sample();
  struct Case {
    const char* name;
    std::string bytes;
    std::string want;
  };
  const Case cases[] = {
      {"empty", "", "transaction file /s/j is invalid: missing ostrel transaction magic"},
      {"wrong_magic", "ostrel-transactioX" + good.substr(18), "transaction file /s/j is invalid: missing ostrel transaction magic"},
      {"magic_only", kMagic, payload + "Unexpected end of input"},
      {"one_byte_more", good + '\0', payload + "Trailing bytes after deserialization"},
      {"variant_one", kMagic + std::string("\0\0\0\1", 4) + good.substr(23),
       payload + "Cord encountered unknown enum variant index 1"},
      {"ends_inside", good.substr(0, good.size() - 1), payload + "Unexpected end of input"},
      // The rules hold for what is read, too.
      {"id_of_two_bytes", kMagic + std::string("\0\0\0\0\0\0\0\2ab", 10) + good.substr(23 + 36),
       "transaction file /s/j is invalid: transaction ID must be exactly 32 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto decoded = decode_transaction_file("/s/j", ostrel::testing::bytes(c.bytes));
    ASSERT_FALSE(decoded.has_value());
    EXPECT_EQ(decoded.error().message(), c.want);
  }
}

TEST(TransactionFile, LoadAndWrite) {
  Workspace ws;
  auto none = load_transaction(ws.paths, h(0xaa));
  ASSERT_TRUE(none.has_value());
  EXPECT_FALSE(none->has_value());

  ASSERT_TRUE(write_transaction(ws.paths, sample()).has_value());
  EXPECT_EQ(ostrel::testing::mode_of(ws.journal()), 0600u);
  auto loaded = load_transaction(ws.paths, h(0xaa));
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(*loaded, sample());

  // Another root's journal copied into this root's folder.
  ws.write_raw(ws.journal(0xbb), ostrel::testing::read_file(ws.journal()));
  auto other = load_transaction(ws.paths, h(0xbb));
  ASSERT_FALSE(other.has_value());
  EXPECT_EQ(other.error().message(), "transaction file " + ws.journal(0xbb).string() +
                                         " is invalid: transaction trusted root does not match its state directory");
}

TEST(TransactionFile, LoadRefusesWhatIsNotAJournalFile) {
  Workspace ws;
  std::filesystem::create_directories(ws.journal());
  auto directory = load_transaction(ws.paths, h(0xaa));
  ASSERT_FALSE(directory.has_value());
  EXPECT_EQ(directory.error().message(), "I/O error at " + ws.journal().string() + ": not a regular file");

  std::filesystem::remove(ws.journal());
  ws.write_raw(ws.journal(), "");
  ASSERT_EQ(::truncate(ws.journal().c_str(), 0x20100001), 0);  // sparse: nothing is written
  auto large = load_transaction(ws.paths, h(0xaa));
  ASSERT_FALSE(large.has_value());
  EXPECT_EQ(large.error().message(), "I/O error at " + ws.journal().string() +
                                         ": file is 537919489 bytes, above the supported maximum of 537919488");
}

// An after-image longer than the 16 MiB single-length limit of other stored files: the journal
// is written, read back and loaded again.
TEST(TransactionFile, AJournalOfA20MiBVaultReadsBack) {
  Workspace ws;
  TransactionV1 t = sample();
  t.next_vault_bytes.assign(20u << 20, 0x42);
  auto written = write_transaction(ws.paths, t);
  ASSERT_TRUE(written.has_value()) << written.error().message();
  auto loaded = load_transaction(ws.paths, h(0xaa));
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
  EXPECT_EQ(**loaded, t);
}

// A commit writes its journal from the head and the after-images where they lie: the file must
// be exactly the encoding of the whole journal, whatever the after-images' sizes (the lengths
// around them are put in by hand).
TEST(TransactionFile, WrittenFromPiecesIsTheWholeJournalsEncoding) {
  const std::size_t sizes[] = {0, 1, 255, 256, 65536, (20u << 20) + 3};
  for (const std::size_t size : sizes) {
    SCOPED_TRACE(size);
    Workspace ws;
    TransactionV1 whole = sample();
    whole.next_vault_bytes.assign(size, 0x42);
    whole.next_ratchet_bytes.assign(size / 2 + 1, 0x17);
    TransactionV1 head = whole;
    head.next_vault_bytes.clear();
    head.next_ratchet_bytes.clear();
    auto written = write_transaction(ws.paths, head, whole.next_vault_bytes, whole.next_ratchet_bytes);
    ASSERT_TRUE(written.has_value()) << written.error().message();
    auto expected = encode_transaction_file(whole);
    ASSERT_TRUE(expected.has_value());
    const std::string on_disk = ostrel::testing::read_file(ws.journal());
    EXPECT_TRUE(std::ranges::equal(on_disk, *expected, [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
    auto loaded = load_transaction(ws.paths, h(0xaa));
    ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
    EXPECT_EQ(**loaded, whole);
  }
  // The after-images' own limits hold for the pieces too, before anything is written.
  Workspace ws;
  const Bytes too_large(kMaxAfterImageBytes + 1, 0);
  TransactionV1 head = sample();
  head.next_vault_bytes.clear();
  head.next_ratchet_bytes.clear();
  auto refused = write_transaction(ws.paths, head, too_large, Bytes{});
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().message(), "transaction file transaction.cord is invalid: transaction vault after-image is too large");
  EXPECT_FALSE(std::filesystem::exists(ws.journal()));
}

TEST(JoinCommitFile, AJournalOfA20MiBVaultDecodes) {
  const JoinCommitJournalV1 journal{h(1), h(2), h(3), Bytes(20u << 20, 0x42), ostrel::testing::bytes("r")};
  auto bytes = encode_join_commit_file(journal);
  ASSERT_TRUE(bytes.has_value());
  ASSERT_TRUE(has_join_commit_magic(*bytes));
  auto decoded = decode_join_commit_file(*bytes);
  ASSERT_TRUE(decoded.has_value()) << decoded.error().message();
  EXPECT_EQ(*decoded, journal);
}

TEST(NativePath, CanonicalFormOfAFile) {
  ScratchDir dir;
  const std::filesystem::path file = dir / "vault.cord";
  ostrel::testing::write_file(file, "v");
  std::filesystem::create_symlink(file, dir / "link.cord");
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  auto relative = NativePathV1::from_path("vault.cord");
  std::filesystem::current_path(cwd);
  auto absolute = NativePathV1::from_path(file);
  auto through_link = NativePathV1::from_path(dir / "link.cord");
  ASSERT_TRUE(relative.has_value() && absolute.has_value() && through_link.has_value());
  EXPECT_EQ(*relative, *absolute);
  EXPECT_EQ(*through_link, *absolute);
  EXPECT_EQ(absolute->to_path(), std::filesystem::canonical(file));

  auto missing = NativePathV1::from_path(dir / "missing.cord");
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().message(),
            "I/O error at " + (dir / "missing.cord").string() + ": No such file or directory (os error 2)");

  EXPECT_EQ(NativePathV1(NativePathV1::WindowsUtf16Le{Bytes{'C', 0}}).to_path(), std::nullopt);

  TransactionV1 t = sample();
  t.vault_path = *absolute;
  EXPECT_EQ(t.is_for_vault(dir / "link.cord"), StoreResult<bool>(true));
  ostrel::testing::write_file(dir / "other.cord", "o");
  EXPECT_EQ(t.is_for_vault(dir / "other.cord"), StoreResult<bool>(false));
}

}  // namespace
}  // namespace ostrel::store
