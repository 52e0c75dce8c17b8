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

}  // namespace
}  // namespace ostrel::store
