// Records decoded from a vault file held in shared ownership keep views of its bytes.
#include <gtest/gtest.h>

#include "store/vault_file.h"
#include "support/hex.h"
#include "support/vault_builder.h"

namespace ostrel::store {
namespace {

TEST(VaultFileShared, RecordsViewTheFileAndOutliveTheCallersHandle) {
  testing::VaultBuilder v(testing::identity_of(1));
  v.add_member(v.root(), testing::identity_of(2));
  auto encoded = encode_vault_file(v.record_set());
  ASSERT_TRUE(encoded);
  auto file = std::make_shared<const std::vector<std::uint8_t>>(encoded->begin(), encoded->end());
  const std::uint8_t* begin = file->data();
  const std::uint8_t* end = begin + file->size();
  auto records = decode_vault_file(file);
  ASSERT_TRUE(records) << records.error().message();
  for (const auto& r : *records) {
    EXPECT_GE(r.encoding().data(), begin);
    EXPECT_LE(r.encoding().data() + r.encoding().size(), end);
  }
  // The records keep the bytes alive once the caller lets go of them.
  file.reset();
  auto again = encode_vault_file(*records);
  ASSERT_TRUE(again);
  EXPECT_EQ(ostrel::testing::to_hex(*again), ostrel::testing::to_hex(*encoded));
  // Decoding from a plain span copies instead, and gives equal records.
  auto copied = decode_vault_file(std::span<const std::uint8_t>(*encoded));
  ASSERT_TRUE(copied);
  EXPECT_EQ(copied->items(), records->items());
}

// A session that wrote a new file moves its records onto it: every holder of a record (a copy, a
// part of its body) keeps its address and content, views the new bytes, and the old ones go.
TEST(VaultFileShared, AdoptedRecordsViewTheNewFileAndLetTheOldOneGo) {
  testing::VaultBuilder v(testing::identity_of(1));
  v.add_member(v.root(), testing::identity_of(2));
  auto encoded = encode_vault_file(v.record_set());
  ASSERT_TRUE(encoded);
  auto old_file = std::make_shared<const std::vector<std::uint8_t>>(encoded->begin(), encoded->end());
  std::weak_ptr<const std::vector<std::uint8_t>> old_alive = old_file;
  auto records = decode_vault_file(std::move(old_file));
  ASSERT_TRUE(records);
  const core::VaultRecordV1 copy = records->items().back();  // held elsewhere, as a state does
  const core::RecordBodyV1* body = copy.known_body();
  ASSERT_NE(body, nullptr);
  const core::RecordPart<core::RecordBodyV1> part = copy.share(*body);
  const std::string before_hex = ostrel::testing::to_hex(copy.encoding());

  auto new_file = std::make_shared<const cord::Buffer>(encoded->begin(), encoded->end());
  ASSERT_TRUE(adopt_vault_file(*new_file, new_file, *records));
  EXPECT_TRUE(old_alive.expired());
  const std::uint8_t* begin = new_file->data();
  for (const auto& r : *records) {
    EXPECT_GE(r.encoding().data(), begin);
    EXPECT_LE(r.encoding().data() + r.encoding().size(), begin + new_file->size());
  }
  EXPECT_EQ(copy.known_body(), body);
  EXPECT_EQ(part.get(), body);
  EXPECT_EQ(ostrel::testing::to_hex(copy.encoding()), before_hex);
  EXPECT_GE(copy.signature().data(), begin);
  EXPECT_EQ(*part, *records->items().back().known_body());

  // A file that holds other records is refused.
  testing::VaultBuilder other(testing::identity_of(1));
  auto different = encode_vault_file(other.record_set());
  ASSERT_TRUE(different);
  auto third = std::make_shared<const cord::Buffer>(std::move(*different));
  EXPECT_FALSE(adopt_vault_file(*third, third, *records));
  auto garbage = std::make_shared<const cord::Buffer>(cord::Buffer{1, 2, 3});
  EXPECT_FALSE(adopt_vault_file(*garbage, garbage, *records));
}

}  // namespace
}  // namespace ostrel::store
