// The vault file: magic, limits, decoding errors, the reader's error mapping, the encoder's
// canonical order and the verified writer, against real files.
#include "store/vault_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/record_sign.h"
#include "support/hex.h"
#include "support/identities.h"
#include "support/scratch.h"

namespace ostrel::store {
namespace {

using ostrel::testing::entries;
using ostrel::testing::from_hex;
using ostrel::testing::mode_of;
using ostrel::testing::read_file;
using ostrel::testing::ScopedUmask;
using ostrel::testing::ScratchDir;
using ostrel::testing::to_hex;
using ostrel::testing::write_file;
using Bytes = std::vector<std::uint8_t>;

// "ostrel-vault" and its NUL, spelled out apart from the code under test.
const std::string kMagicHex = "6f737472656c2d7661756c74" "00";
const std::string kMissingMagic = "validation failed: not a ostrel vault file (missing magic prefix)";

Bytes file_of(const std::string& hex_after_magic) { return from_hex(kMagicHex + hex_after_magic); }

std::string be32(std::uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08x", v);
  return buf;
}

void append_be32(Bytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// A vault file of `count` tiny records in ascending order: each a 20-byte record whose body is
// of a kind this version does not know (kind 14, then the record's number) and whose key and
// signature are empty. The decoder takes them as they are; cheap to build in the hundreds of
// thousands.
Bytes tiny_record_vault(std::uint32_t count) {
  Bytes out = from_hex(kMagicHex + "00000000");
  out.reserve(out.size() + 4 + std::size_t{20} * count);
  append_be32(out, count);
  for (std::uint32_t i = 0; i < count; ++i) {
    append_be32(out, 8);
    append_be32(out, 14);
    append_be32(out, i);
    append_be32(out, 0);
    append_be32(out, 0);
  }
  return out;
}

// A few records of different kinds and authors.
VaultRecords sample_records() {
  const crypto::Identity root = testing::identity_of(1);
  const crypto::Identity user = testing::identity_of(2);
  VaultRecords records;
  records.insert(testing::root_record(root));
  records.insert(testing::signed_record(
      root, core::RecordBodyV1(core::UserRecordV1{user.user_id, Bytes(user.signing_public_key.begin(), user.signing_public_key.end()),
                                                  Bytes(user.hpke_public_key.begin(), user.hpke_public_key.end()), 1})));
  auto deleted = core::SecretDeletedRecordV1::create_signed(user, core::SecretSelectorV1{{"app", "db"}, {}}, 2);
  if (!deleted) std::abort();
  records.insert(std::move(*deleted));
  return records;
}

// A mapping of `size` zero bytes that costs no memory until touched.
class ZeroPages {
 public:
  explicit ZeroPages(std::size_t size) : size_(size) {
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) std::abort();
    data_ = static_cast<std::uint8_t*>(p);
  }
  ~ZeroPages() { ::munmap(data_, size_); }
  ZeroPages(const ZeroPages&) = delete;
  ZeroPages& operator=(const ZeroPages&) = delete;
  std::span<std::uint8_t> span() { return {data_, size_}; }

 private:
  std::uint8_t* data_;
  std::size_t size_;
};

TEST(VaultFileDecode, RefusesMalformedFiles) {
  struct Case {
    const char* fault;
    Bytes file;
    std::string want;
  };
  const Case cases[] = {
      {"empty file", {}, kMissingMagic},
      {"magic without its NUL", from_hex("6f737472656c2d7661756c74"), kMissingMagic},
      {"NUL replaced by the store", from_hex("6f737472656c2d7661756c74" "01" "00000000" "00000000"), kMissingMagic},
      {"first byte differs", from_hex("4f737472656c2d7661756c7400" "00000000" "00000000"), kMissingMagic},
      {"another file's magic", from_hex("6f737472656c2d726174636865740000000000000000"), kMissingMagic},
      {"magic only", file_of(""), "cord error: Unexpected end of input"},
      {"count missing", file_of("00000000"), "cord error: Unexpected end of input"},
      {"unknown store variant", file_of("00000001" "00000000"),
       "cord error: Cord encountered unknown enum variant index 1"},
      {"byte after the set", file_of("00000000" "00000000" "00"), "cord error: Trailing bytes after deserialization"},
      {"record announced but absent", file_of("00000000" "00000001"), "cord error: Unexpected end of input"},
  };
  for (const Case& c : cases) {
    auto r = decode_vault_file(c.file);
    ASSERT_FALSE(r) << c.fault;
    EXPECT_EQ(r.error().message(), c.want) << c.fault;
  }
}

TEST(VaultFileDecode, RefusesRecordsOutOfCanonicalOrder) {
  const VaultRecords records = sample_records();
  auto file = encode_vault_file(records);
  ASSERT_TRUE(file);
  const core::VaultRecordV1& a = records.items()[0];
  const core::VaultRecordV1& b = records.items()[1];
  const bool a_first = to_hex(a.encoding()) < to_hex(b.encoding());
  const std::string low = to_hex(a_first ? a.encoding() : b.encoding());
  const std::string high = to_hex(a_first ? b.encoding() : a.encoding());

  const std::string duplicate = "Cord deserialization error: Duplicate element in set";
  for (const std::string& body : {high + low, low + low}) {
    auto r = decode_vault_file(file_of("00000000" "00000002" + body));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "cord error: " + duplicate);
  }
  ASSERT_TRUE(decode_vault_file(file_of("00000000" "00000002" + low + high)));
}

TEST(VaultFileDecode, EmptyStoreIsTwentyOneBytesBothWays) {
  const Bytes file = file_of("00000000" "00000000");
  ASSERT_EQ(file.size(), 21u);
  auto records = decode_vault_file(file);
  ASSERT_TRUE(records) << records.error().message();
  EXPECT_TRUE(records->empty());
  auto again = encode_vault_file(*records);
  ASSERT_TRUE(again);
  EXPECT_EQ(to_hex(*again), to_hex(file));
}

TEST(VaultFileCodec, SignedRecordsRoundTripInCanonicalOrder) {
  const VaultRecords records = sample_records();
  auto file = encode_vault_file(records);
  ASSERT_TRUE(file) << file.error().message();

  // The layout spelled out: magic, variant 0, count 3, then the records by ascending encoding.
  std::vector<std::string> sorted;
  for (const core::VaultRecordV1& r : records) sorted.push_back(to_hex(r.encoding()));
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(to_hex(*file), kMagicHex + "00000000" "00000003" + sorted[0] + sorted[1] + sorted[2]);

  // The order the set was built in does not matter.
  VaultRecords reversed(std::vector<core::VaultRecordV1>(records.items().rbegin(), records.items().rend()));
  EXPECT_EQ(to_hex(*encode_vault_file(reversed)), to_hex(*file));

  auto back = decode_vault_file(*file);
  ASSERT_TRUE(back) << back.error().message();
  EXPECT_EQ(*back, records);
  for (const core::VaultRecordV1& r : *back) EXPECT_FALSE(r.encoding().empty());
  EXPECT_EQ(to_hex(*encode_vault_file(*back)), to_hex(*file));
}

TEST(VaultFileCodec, EncoderRefusesTwoEqualRecords) {
  const core::VaultRecordV1 root = testing::root_record(testing::identity_of(1));
  auto r = encode_vault_file(VaultRecords(std::vector<core::VaultRecordV1>{root, root}));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "cord error: Cord serialization error: Duplicate element in set");
}

TEST(VaultFileLimits, RecordCountLimitIsInclusiveBothWays) {
  const std::string over = "validation failed: vault carries 262145 records, above the supported maximum of 262144";
  auto too_many = decode_vault_file(tiny_record_vault(262'145));
  ASSERT_FALSE(too_many);
  EXPECT_EQ(too_many.error().message(), over);

  const Bytes at_limit = tiny_record_vault(262'144);
  auto records = decode_vault_file(at_limit);
  ASSERT_TRUE(records) << records.error().message();
  ASSERT_EQ(records->size(), 262'144u);
  EXPECT_TRUE(records->items().back().body().is_raw());
  auto again = encode_vault_file(*records);
  ASSERT_TRUE(again) << again.error().message();
  EXPECT_TRUE(std::equal(again->begin(), again->end(), at_limit.begin(), at_limit.end()));

  // One more, whatever it holds, is refused before anything is encoded.
  records->items().push_back(core::VaultRecordV1());
  auto refused = encode_vault_file(*records);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message(), over);
}

TEST(VaultFileLimits, OverfullVaultStillReportsItsFirstBrokenRecord) {
  // The count is judged only once every record has decoded.
  Bytes cut = tiny_record_vault(262'145);
  cut.pop_back();
  auto r = decode_vault_file(cut);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "cord error: Unexpected end of input");

  Bytes unordered = tiny_record_vault(262'145);
  // The last record's number (ahead of its two empty fields) drops below its predecessor's.
  for (std::size_t k = 9; k <= 12; ++k) unordered[unordered.size() - k] = 0;
  r = decode_vault_file(unordered);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "cord error: Cord deserialization error: Duplicate element in set");

  // A count above the encoding's own limit is the decoder's error.
  r = decode_vault_file(file_of("00000000" + be32(16'777'217)));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "cord error: Cord length limit exceeded: 16777217 exceeds maximum of 16777216");
}

TEST(VaultFileLimits, OversizedBytesAreRefusedBeforeDecodingOrWriting) {
  ScratchDir d;
  const WorkspacePaths paths = WorkspacePaths::for_vault_file(d / ".ostrel" / "vault.cord");
  ZeroPages big(268'435'457);
  const Bytes magic = from_hex(kMagicHex);
  std::copy(magic.begin(), magic.end(), big.span().begin());
  const std::string message = "validation failed: vault is 268435457 bytes, above the supported maximum of 268435456";

  auto decoded = decode_vault_file(big.span());
  ASSERT_FALSE(decoded);
  EXPECT_EQ(decoded.error().message(), message);

  auto written = write_vault(paths, big.span());
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), vault_invalid(paths, CoreError::validation(
                                                                  "vault is 268435457 bytes, above the supported maximum of 268435456")));
  EXPECT_FALSE(std::filesystem::exists(paths.vault_dir));
}

TEST(VaultFileRead, MapsEachFailureToItsStoreError) {
  ScratchDir d;
  const WorkspacePaths paths = WorkspacePaths::for_vault_file(d / ".ostrel" / "vault.cord");
  const std::string shown = paths.vault_file.string();

  auto missing_dir = read_vault_bytes(paths);
  ASSERT_FALSE(missing_dir);
  EXPECT_EQ(missing_dir.error().message(), "vault file is missing at " + shown);

  std::filesystem::create_directories(paths.vault_file);
  auto directory = read_vault_bytes(paths);
  ASSERT_FALSE(directory);
  EXPECT_TRUE(directory.error().kind() == StoreError::Io);
  EXPECT_EQ(directory.error().message(), "I/O error at " + shown + ": not a regular file");
  std::filesystem::remove(paths.vault_file);

  // One byte over the limit, without holding it: a sparse file.
  const int fd = ::open(paths.vault_file.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 268'435'457), 0);
  ::close(fd);
  auto oversized = read_vault_bytes(paths);
  ASSERT_FALSE(oversized);
  EXPECT_TRUE(oversized.error().kind() == StoreError::VaultInvalid);
  EXPECT_EQ(oversized.error().message(),
            "vault file " + shown +
                " is invalid: validation failed: file is 268435457 bytes, above the supported maximum of 268435456");
  auto loaded = load_vault(paths);
  ASSERT_FALSE(loaded);
  EXPECT_EQ(loaded.error(), oversized.error());
}

TEST(VaultFileLoad, DecodingFailureNamesTheVaultFile) {
  ScratchDir d;
  const WorkspacePaths paths = WorkspacePaths::for_vault_file(d / "vault.cord");
  write_file(paths.vault_file, std::string("ostrel-vault\0", 13) + std::string("\0\0\0\1\0\0\0\0", 8));
  auto r = load_vault(paths);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "vault file " + paths.vault_file.string() +
                                     " is invalid: cord error: Cord encountered unknown enum variant index 1");
}

TEST(VaultFileWrite, CreatesTheFolderAndReadsBack) {
  ScratchDir d;
  ScopedUmask umask(022);
  const WorkspacePaths paths = WorkspacePaths::for_vault_file(d / "deep" / "er" / ".ostrel" / "vault.cord");
  const VaultRecords records = sample_records();
  auto file = encode_vault_file(records);
  ASSERT_TRUE(file);

  ASSERT_TRUE(write_vault(paths, *file));
  EXPECT_EQ(mode_of(paths.vault_file), 0644u);
  auto loaded = load_vault(paths);
  ASSERT_TRUE(loaded) << loaded.error().message();
  EXPECT_EQ(*loaded, records);
  auto bytes = read_vault_bytes(paths);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(to_hex(*bytes), to_hex(*file));
  EXPECT_EQ(entries(paths.vault_dir), std::vector<std::string>{"vault.cord"});
}

TEST(VaultFileWrite, ReplacementKeepsThePermissions) {
  ScratchDir d;
  const WorkspacePaths paths = WorkspacePaths::for_vault_file(d / "vault.cord");
  write_file(paths.vault_file, "old");
  ASSERT_EQ(::chmod(paths.vault_file.c_str(), 0640), 0);
  auto empty = encode_vault_file(VaultRecords());
  ASSERT_TRUE(empty);
  ASSERT_TRUE(write_vault(paths, *empty));
  EXPECT_EQ(mode_of(paths.vault_file), 0640u);
  EXPECT_EQ(read_file(paths.vault_file), std::string("ostrel-vault\0", 13) + std::string(8, '\0'));
}

TEST(VaultFileWrite, ReplacementKeepsOnlyTheRwxBits) {
  // A vault file someone marked set-user-id, set-group-id or sticky: the file this process writes
  // in its place must not carry those bits on.
  struct Case {
    const char* name;
    unsigned before;
    unsigned after;
  };
  const Case cases[] = {
      {"set-user-id", 04755, 0755},
      {"set-group-id", 02750, 0750},
      {"sticky", 01644, 0644},
      {"all three", 07777, 0777},
  };
  for (const Case& c : cases) {
    ScratchDir d;
    const WorkspacePaths paths = WorkspacePaths::for_vault_file(d / "vault.cord");
    write_file(paths.vault_file, "old");
    ASSERT_EQ(::chmod(paths.vault_file.c_str(), c.before), 0) << c.name;
    ASSERT_EQ(mode_of(paths.vault_file), c.before) << c.name << ": the file system kept the bits";
    ASSERT_TRUE(write_vault(paths, file_of("00000000" "00000000"))) << c.name;
    EXPECT_EQ(mode_of(paths.vault_file), c.after) << c.name;
  }
}

TEST(VaultFileWrite, ThroughASymbolicLinkReplacesTheFileItLeadsTo) {
  // vault.cord may be a link to where the vault really lives (a synced folder, say). A write keeps
  // the link and replaces the file behind it, and the read-back checks that file.
  ScratchDir d;
  std::filesystem::create_directory(d / "data");
  std::filesystem::create_directory(d / "ws");
  write_file(d / "data/real.cord", "old");
  ASSERT_EQ(::chmod((d / "data/real.cord").c_str(), 0640), 0);
  std::filesystem::create_symlink("../data/real.cord", d / "ws/vault.cord");
  const WorkspacePaths paths = WorkspacePaths::for_vault_file(d / "ws/vault.cord");

  const VaultRecords records = sample_records();
  auto file = encode_vault_file(records);
  ASSERT_TRUE(file);
  auto r = write_vault(paths, *file);
  ASSERT_TRUE(r) << r.error().message();

  EXPECT_TRUE(std::filesystem::is_symlink(paths.vault_file));
  EXPECT_EQ(std::filesystem::read_symlink(paths.vault_file), "../data/real.cord");
  EXPECT_EQ(read_file(d / "data/real.cord"), std::string(file->begin(), file->end()));
  EXPECT_EQ(mode_of(d / "data/real.cord"), 0640u);
  EXPECT_EQ(entries(d / "data"), std::vector<std::string>{"real.cord"});
  EXPECT_EQ(entries(d / "ws"), std::vector<std::string>{"vault.cord"});
  auto loaded = load_vault(paths);
  ASSERT_TRUE(loaded) << loaded.error().message();
  EXPECT_EQ(*loaded, records);
}

TEST(VaultFileWrite, SymbolicLinkToNoRegularFileIsRefusedBeforeWriting) {
  struct Case {
    const char* name;
    std::string link_to;  // relative to the workspace folder
    std::string io_text;
  };
  const Case cases[] = {
      {"dangling", "missing.cord", "No such file or directory (os error 2)"},
      {"to a folder", "folder", "not a regular file"},
      {"to itself", "vault.cord", "Too many levels of symbolic links (os error 40)"},
  };
  for (const Case& c : cases) {
    ScratchDir d;
    std::filesystem::create_directory(d / "folder");
    std::filesystem::create_symlink(c.link_to, d / "vault.cord");
    const WorkspacePaths paths = WorkspacePaths::for_vault_file(d / "vault.cord");
    auto r = write_vault(paths, file_of("00000000" "00000000"));
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().message(), "I/O error at " + paths.vault_file.string() + ": " + c.io_text) << c.name;
    EXPECT_EQ(std::filesystem::read_symlink(paths.vault_file), c.link_to) << c.name;
    EXPECT_EQ(entries(d.path()), (std::vector<std::string>{"folder", "vault.cord"})) << c.name;
    EXPECT_TRUE(entries(d / "folder").empty()) << c.name;
  }
}

TEST(VaultFileWrite, BytesThatDoNotDecodeAreReportedAfterReplacing) {
  ScratchDir d;
  const WorkspacePaths paths = WorkspacePaths::for_vault_file(d / "vault.cord");
  write_file(paths.vault_file, "old");
  const Bytes not_a_vault = from_hex("68656c6c6f");
  auto r = write_vault(paths, not_a_vault);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "vault file " + paths.vault_file.string() + " is invalid: " + kMissingMagic);
  EXPECT_EQ(read_file(paths.vault_file), "hello");
  EXPECT_EQ(entries(d.path()), std::vector<std::string>{"vault.cord"});

  // A well-formed prefix with a broken set is reported by the decoder's own error.
  auto broken = write_vault(paths, file_of("00000000" "00000001"));
  ASSERT_FALSE(broken);
  EXPECT_EQ(broken.error(), vault_invalid(paths, CoreError(cord::Error::UnexpectedEnd)));
}

TEST(VaultFileWrite, FolderThatCannotBeMadeIsNamed) {
  ScratchDir d;
  write_file(d / "blocker", "a file where a folder should be");
  const WorkspacePaths paths = WorkspacePaths::for_vault_file(d / "blocker" / ".ostrel" / "vault.cord");
  auto r = write_vault(paths, file_of("00000000" "00000000"));
  ASSERT_FALSE(r);
  ASSERT_TRUE(r.error().kind() == StoreError::Io);
  EXPECT_EQ(r.error().path(), paths.vault_dir);
}

}  // namespace
}  // namespace ostrel::store
