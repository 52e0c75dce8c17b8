// Ratchet records: the layout of each variant, raw elements of later versions in a ratchet
// file's set, and plain baseline lists that refuse them.
#include <gtest/gtest.h>

#include "core/ratchet_records.h"
#include "support/hex.h"

namespace ostrel::core {
namespace {

using testing::from_hex;
using testing::to_hex;

std::string repeat(const char* hex_byte, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += hex_byte;
  return s;
}

TEST(RatchetRecords, LayoutExamples) {
  const HashValue u(cord::Bytes(32, 0x11));
  EXPECT_EQ(to_hex(*cord::to_vec(RatchetRecordV1::format_version(1))), "00000008" "0000000000000001");
  EXPECT_EQ(to_hex(*cord::to_vec(RatchetRecordV1(UserRatchetRecordV1{UserId(u), 5}))),
            "00000000" "00000020" + repeat("11", 32) + "0000000000000005");
  EXPECT_EQ(to_hex(*cord::to_vec(RatchetRecordV1(TrustedRootRatchetRecordV1{u}))), "00000009" "00000020" + repeat("11", 32));
  auto gm = cord::to_vec(RatchetRecordV1(GroupMemberRatchetRecordV1{GroupMemberId(u), 2, std::nullopt}));
  EXPECT_EQ(gm->size(), 49u);
  EXPECT_EQ(gm->back(), 0);
  // In a ratchet file's set each element carries its payload length.
  EXPECT_EQ(to_hex(*cord::to_vec(RatchetElement(RatchetRecordV1::format_version(1)))),
            "0000000c" "00000008" "0000000000000001");
}

TEST(RatchetRecords, EveryVariantRoundTrips) {
  const HashValue h(cord::Bytes(32, 0x22));
  const std::vector<RatchetRecordV1> all = {
      UserRatchetRecordV1{UserId(h), 1},
      UserHandleRatchetRecordV1{UserHandleId(h), 2, "alice"},
      VaultHandleRatchetRecordV1{VaultHandleId(h), 3, ""},
      GroupRatchetRecordV1{GroupId(h), 4},
      GroupMemberRatchetRecordV1{GroupMemberId(h), 5, GroupMemberIdInputV1{GroupId(h), PrincipalRefV1(UserId(h))}},
      GrantRatchetRecordV1{GrantId(h), 6},
      SecretRatchetRecordV1{SecretId(h), 7, SecretSelectorV1{{}, {{"b", "1"}, {"a", "2"}}}},
      EntryPointRatchetRecordV1{UserId(h), 8},
      RatchetRecordV1::format_version(9),
      TrustedRootRatchetRecordV1{HashValue(cord::Bytes(31, 1))},
  };
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].index(), i);
    auto bytes = cord::to_vec(all[i]);
    ASSERT_TRUE(bytes);
    auto back = cord::from_slice<RatchetRecordV1>(*bytes);
    ASSERT_TRUE(back) << i << ": " << back.error().message();
    EXPECT_EQ(*back, all[i]) << i;
  }
  // Bindings differ: with and without input are different records.
  EXPECT_NE(RatchetRecordV1(GroupMemberRatchetRecordV1{GroupMemberId(h), 5, std::nullopt}), all[4]);
}

TEST(RatchetRecords, LaterVersionsKeptRawInTheFileButRefusedInABaseline) {
  // Index 10 with a one-byte payload after it.
  const std::string unknown = "0000000a" "01";
  EXPECT_EQ(cord::from_slice<RatchetRecordV1>(from_hex(unknown)).error().message(),
            "Cord encountered unknown enum variant index 10");
  EXPECT_EQ(cord::from_slice<std::vector<RatchetRecordV1>>(from_hex("00000001" + unknown)).error().message(),
            "Cord encountered unknown enum variant index 10");

  const std::string file = "00000000" "00000002" "0000000c" "00000008" "0000000000000001" "00000005" + unknown;
  // Sorted by framed encoding: the 5-byte payload comes first.
  const std::string sorted = "00000000" "00000002" "00000005" + unknown + "0000000c" "00000008" "0000000000000001";
  EXPECT_FALSE(cord::from_slice<RatchetStore>(from_hex(file)));
  auto store = cord::from_slice<RatchetStore>(from_hex(sorted));
  ASSERT_TRUE(store) << store.error().message();
  const auto& set = std::get<0>(*store);
  ASSERT_EQ(set.size(), 2u);
  EXPECT_TRUE(set.items()[0].is_raw());
  EXPECT_EQ(to_hex(*cord::to_vec(*store)), to_hex(from_hex(sorted)));

  // A membership whose member names variant 2 is kept raw whole; an input tag of 2 is an error.
  const std::string gm_prefix = "00000004" "00000001" "aa" "0000000000000001";
  const std::string bad_member = gm_prefix + "01" "00000001" "bb" "00000002" "00000001" "cc";
  const std::string bad_tag = gm_prefix + "02";
  auto raw = cord::from_slice<RatchetElement>(from_hex("00000020" + bad_member));
  ASSERT_TRUE(raw) << raw.error().message();
  EXPECT_TRUE(raw->is_raw());
  EXPECT_EQ(cord::from_slice<RatchetElement>(from_hex("00000012" + bad_tag)).error().message(),
            "Cord deserialization error: Cord could not validate: Invalid option variant");
  // A valid record followed by one byte inside its element.
  EXPECT_EQ(cord::from_slice<RatchetElement>(from_hex("0000000d" "00000008" "0000000000000001" "00")).error().message(),
            "Cord deserialization error: trailing bytes in evolving payload");
}

TEST(RatchetRecords, FileOrderIsByFramedEncoding) {
  const HashValue h(cord::Bytes(32, 0x33));
  cord::Set<RatchetElement> set(std::vector<RatchetElement>{
      RatchetRecordV1(GroupMemberRatchetRecordV1{GroupMemberId(h), 1, std::nullopt}),
      RatchetRecordV1(GrantRatchetRecordV1{GrantId(h), 1}),
      RatchetRecordV1(TrustedRootRatchetRecordV1{h}),
      RatchetRecordV1(UserRatchetRecordV1{UserId(h), 1}),
      RatchetRecordV1::format_version(1),
  });
  auto bytes = cord::to_vec(set);
  ASSERT_TRUE(bytes);
  auto back = cord::from_slice<cord::Set<RatchetElement>>(*bytes);
  ASSERT_TRUE(back);
  std::vector<std::size_t> kinds;
  for (const auto& e : back->items()) kinds.push_back(e.known()->index());
  // FormatVersion, TrustedRoot, then 48-byte payloads by kind, then the 49-byte membership.
  EXPECT_EQ(kinds, (std::vector<std::size_t>{8, 9, 0, 5, 4}));
}

}  // namespace
}  // namespace ostrel::core
