// The bytes of every keychain file type: the fields in order, the versioned stores, the record
// set of keychain.cord with its unknown records kept byte for byte, and what decoding refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keychain/stored.h"
#include "support/hex.h"
#include "support/keychain.h"

namespace ostrel::keychain {
namespace {

using testing::from_hex;
using testing::to_hex;

SealedIdentityV1 sample_identity(std::uint8_t user_fill = 0x22) {
  return SealedIdentityV1{.root = std::vector<std::uint8_t>(32, 0x11),
                          .user = std::vector<std::uint8_t>(32, user_fill),
                          .kdf = {.algorithm = "argon2id-v1.3", .m = 8192, .t = 2, .p = 3},
                          .salt = std::vector<std::uint8_t>(16, 0x33),
                          .nonce = std::vector<std::uint8_t>(12, 0x44),
                          .ciphertext = std::vector<std::uint8_t>(52, 0x55)};
}

std::vector<std::uint8_t> plain(const cord::Buffer& b) { return {b.begin(), b.end()}; }

TEST(IdentityStore, LaysOutEveryFieldInOrder) {
  const std::vector<std::uint8_t> file = testing::identity_file(sample_identity());
  ASSERT_EQ(file.size(), 213u);
  const std::string hex = to_hex(file);
  EXPECT_EQ(hex.substr(0, 32), to_hex(testing::bytes_of(std::string_view("ostrel-identity\0", 16))));
  EXPECT_EQ(hex.substr(32, 8), "00000000");         // V1
  EXPECT_EQ(hex.substr(40, 8), "00000020");         // root length
  EXPECT_EQ(hex.substr(184, 8), "0000000d");        // algorithm length, at offset 92
  EXPECT_EQ(hex.substr(218, 24), "000020000000000200000003");  // m, t, p at offset 109
  EXPECT_EQ(hex.substr(242, 8), "00000010");        // salt length, at offset 121
  EXPECT_EQ(hex.substr(282, 8), "0000000c");        // nonce length, at offset 141
  EXPECT_EQ(hex.substr(314, 8), "00000034");        // ciphertext length, at offset 157
  auto back = decode_identity_store(std::span(file).subspan(16));
  ASSERT_TRUE(back) << back.error().message();
  EXPECT_EQ(*back, sample_identity());
}

TEST(CurrentUserStore, WithAndWithoutLabel) {
  const CurrentUserV1 bare{std::vector<std::uint8_t>(32, 7), std::nullopt};
  const std::vector<std::uint8_t> file = testing::current_user_file(bare);
  ASSERT_EQ(file.size(), 61u);
  EXPECT_EQ(file.back(), 0);
  const CurrentUserV1 labelled{std::vector<std::uint8_t>(32, 7), "alice"};
  const auto payload = encode_current_user_store(labelled);
  ASSERT_TRUE(payload);
  EXPECT_EQ(to_hex(std::span(*payload).last(10)), "01" "00000005" + to_hex(testing::bytes_of("alice")));
  // An empty label is a label.
  EXPECT_NE(bare, (CurrentUserV1{bare.user, std::string()}));
}

TEST(KeychainStore, KeepsUnknownRecordsAndWritesThemInEncodingOrder) {
  const std::vector<std::uint8_t> body{0xde, 0xad};
  KeychainRecords records;
  records.insert(testing::unknown_record(7, body));
  records.insert(testing::current_user_record({std::vector<std::uint8_t>(32, 9), std::nullopt}));
  records.insert(testing::identity_record(sample_identity()));
  const auto payload = encode_keychain_store(records);
  ASSERT_TRUE(payload) << payload.error().message();
  // Count 3; the unknown record (6 payload bytes) sorts first by its length prefix.
  EXPECT_EQ(to_hex(std::span(*payload).first(18)), "00000000" "00000003" "00000006" "00000007dead");
  auto back = decode_keychain_store(*payload);
  ASSERT_TRUE(back) << back.error().message();
  EXPECT_EQ(*back, records);
  ASSERT_EQ(back->items().front().is_raw(), true);
  EXPECT_EQ(plain(*encode_keychain_store(*back)), plain(*payload));
}

TEST(KeychainStore, IndexOneInsideARecordIsASelector) {
  KeychainRecords records;
  records.insert(testing::current_user_record({{1, 2}, "x"}));
  auto back = decode_keychain_store(*encode_keychain_store(records));
  ASSERT_TRUE(back);
  ASSERT_EQ(back->size(), 1u);
  ASSERT_NE(current_user_of(back->items().front()), nullptr);
  EXPECT_EQ(current_user_of(back->items().front())->label, "x");
}

TEST(KeychainStore, CanonicalOrderIgnoresHowTheSetWasBuilt) {
  KeychainRecords forward, backward;
  std::vector<KeychainRecordV1> records{testing::identity_record(sample_identity(1)),
                                        testing::identity_record(sample_identity(2)),
                                        testing::current_user_record({{3}, std::nullopt})};
  for (const auto& r : records) forward.insert(r);
  for (auto it = records.rbegin(); it != records.rend(); ++it) backward.insert(*it);
  std::vector<std::string> a, b;
  for (const auto* r : canonical_order(forward)) a.push_back(to_hex(*cord::to_vec(*r)));
  for (const auto* r : canonical_order(backward)) b.push_back(to_hex(*cord::to_vec(*r)));
  EXPECT_EQ(a, b);
  EXPECT_TRUE(std::is_sorted(a.begin(), a.end()));  // same-width hex sorts like the bytes
}

struct Refusal {
  const char* name;
  std::string payload_hex;
  std::string message;
};

TEST(KeychainDecoding, RefusesMalformedPayloads) {
  const std::string identity = to_hex(*encode_identity_store(sample_identity()));
  const std::string record = "00000010" "00000001" "00000002" "0102" "01" "00000001" "61";
  const std::vector<Refusal> cases{
      {"identity store variant 1", "00000001" + identity.substr(8), "Cord encountered unknown enum variant index 1"},
      {"keychain store variant 1", "00000001" "00000000", "Cord encountered unknown enum variant index 1"},
      {"byte after identity store", identity + "00", "Trailing bytes after deserialization"},
      {"option tag 2", "00000000" "00000001" "07" "02", "Cord could not validate: Invalid option variant"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> payload = from_hex(c.payload_hex);
    std::string got;
    if (std::string(c.name).starts_with("keychain")) {
      got = decode_keychain_store(payload).error().message();
    } else if (std::string(c.name).starts_with("option")) {
      got = decode_current_user_store(payload).error().message();
    } else {
      got = decode_identity_store(payload).error().message();
    }
    EXPECT_EQ(got, c.message);
  }
  // A record set out of order, or with one record twice.
  const std::string twice = "00000000" "00000002" + record + record;
  EXPECT_EQ(decode_keychain_store(from_hex(twice)).error().message(),
            "Cord deserialization error: Duplicate element in set");
  // A known record with bytes left inside its payload.
  const std::string padded = "00000000" "00000001" "00000011" "00000001" "00000002" "0102" "01" "00000001" "61" "00";
  EXPECT_EQ(decode_keychain_store(from_hex(padded)).error().message(),
            "Cord deserialization error: trailing bytes in evolving payload");
}

TEST(KeychainDecoding, OddSaltAndAlgorithmStillDecode) {
  SealedIdentityV1 odd = sample_identity();
  odd.salt.resize(8);
  odd.kdf.algorithm = "argon2id";
  auto back = decode_identity_store(*encode_identity_store(odd));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, odd);
}

TEST(LocalIdentity, TrailingByteFails) {
  std::vector<std::uint8_t> plaintext = from_hex("00000020" + std::string(64, '1'));
  ASSERT_TRUE(decode_local_identity(plaintext));
  EXPECT_EQ(decode_local_identity(plaintext)->seed.size(), 32u);
  plaintext.push_back(0);
  EXPECT_EQ(decode_local_identity(plaintext).error().message(), "Trailing bytes after deserialization");
}

TEST(IdentityAad, IsRootThenUserAsByteStrings) {
  const auto aad = encode_identity_aad(std::vector<std::uint8_t>{0xab}, std::vector<std::uint8_t>{1, 2});
  ASSERT_TRUE(aad);
  EXPECT_EQ(to_hex(*aad), "00000001ab000000020102");
  EXPECT_EQ(encode_identity_aad(std::vector<std::uint8_t>(32), std::vector<std::uint8_t>(32))->size(), 72u);
}

}  // namespace
}  // namespace ostrel::keychain
