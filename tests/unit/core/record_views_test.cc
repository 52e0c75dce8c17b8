// Decoded records view the bytes they were read from instead of copying their fields; copies
// taken out of a record own their bytes; parts of a record keep it alive.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "core/record_sign.h"
#include "core/records.h"
#include "support/hex.h"
#include "support/identities.h"

namespace ostrel::core {
namespace {

using File = std::shared_ptr<const std::vector<std::uint8_t>>;

// A signed secret record whose byte strings and texts are all non-empty.
VaultRecordV1 secret_record() {
  SealedPayloadV1 payload;
  payload.nonce = cord::Bytes(12, 0x11);
  payload.ciphertext = cord::Bytes(40, 0x22);
  payload.recipient_slots.push_back(
      RecipientSlotV1{UserId(HashValue(cord::Bytes(32, 3))), cord::Bytes(32, 0x33), cord::Bytes(48, 0x44)});
  auto r = SecretRecordV1::create_signed(testing::identity_of(2), SecretSelectorV1{{"app", "db"}, {{"env", "prod"}}},
                                         std::move(payload), 7);
  if (!r) std::abort();
  return std::move(*r);
}

bool within(const void* p, std::size_t n, std::span<const std::uint8_t> bytes) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  return b >= bytes.data() && b + n <= bytes.data() + bytes.size();
}

// Every byte string and text of the record, with its place.
struct Field {
  const void* data;
  std::size_t size;
  bool view;
};
std::vector<Field> fields_of(const VaultRecordV1& r) {
  const auto& s = std::get<SecretRecordV1>(*r.known_body());
  std::vector<Field> out = {{r.signing_public_key().data(), r.signing_public_key().size(), r.signing_public_key().is_view()},
                            {r.signature().data(), r.signature().size(), r.signature().is_view()},
                            {s.payload.nonce.data(), s.payload.nonce.size(), s.payload.nonce.is_view()},
                            {s.payload.ciphertext.data(), s.payload.ciphertext.size(), s.payload.ciphertext.is_view()}};
  for (const cord::Text& t : s.selector.tuple) out.push_back({t.data(), t.size(), t.is_view()});
  for (const SecretLabelV1& l : s.selector.labels) {
    out.push_back({l.key.data(), l.key.size(), l.key.is_view()});
    out.push_back({l.value.data(), l.value.size(), l.value.is_view()});
  }
  for (const RecipientSlotV1& slot : s.payload.recipient_slots) {
    out.push_back({slot.encapsulated_key.data(), slot.encapsulated_key.size(), slot.encapsulated_key.is_view()});
    out.push_back({slot.wrapped_key.data(), slot.wrapped_key.size(), slot.wrapped_key.is_view()});
  }
  return out;
}

TEST(RecordViews, ReadFromASharedInputEveryFieldViewsItsBytes) {
  const VaultRecordV1 made = secret_record();
  File file = std::make_shared<const std::vector<std::uint8_t>>(made.encoding().begin(), made.encoding().end());
  auto read = cord::from_slice<VaultRecordV1>(*file, file);
  ASSERT_TRUE(read) << read.error().message();
  EXPECT_TRUE(within(read->encoding().data(), read->encoding().size(), *file));
  for (const Field& f : fields_of(*read)) {
    EXPECT_TRUE(f.view);
    EXPECT_TRUE(within(f.data, f.size, *file));
  }
  // The record keeps the input alive after every other holder lets go.
  const std::weak_ptr<const std::vector<std::uint8_t>> watch = file;
  file.reset();
  EXPECT_FALSE(watch.expired());
  EXPECT_EQ(*read, made);
  const VaultRecordV1 copy = *read;
  *read = VaultRecordV1();
  EXPECT_FALSE(watch.expired());  // the copy shares the representation
  EXPECT_EQ(copy, made);
}

TEST(RecordViews, ReadFromABorrowedInputTheRecordViewsItsOwnCopy) {
  const VaultRecordV1 made = secret_record();
  auto input = std::make_unique<std::vector<std::uint8_t>>(made.encoding().begin(), made.encoding().end());
  auto read = cord::from_slice<VaultRecordV1>(*input);
  ASSERT_TRUE(read) << read.error().message();
  const cord::ByteView own = read->encoding();
  EXPECT_FALSE(within(own.data(), own.size(), *input));
  for (const Field& f : fields_of(*read)) {
    EXPECT_TRUE(f.view);
    EXPECT_TRUE(within(f.data, f.size, own));
  }
  // The input may go at once: nothing refers to it.
  std::fill(input->begin(), input->end(), 0);
  input.reset();
  EXPECT_EQ(*read, made);
  EXPECT_EQ(testing::to_hex(read->encoding()), testing::to_hex(made.encoding()));
}

TEST(RecordViews, CopiesTakenOutOfARecordOwnTheirBytes) {
  const VaultRecordV1 made = secret_record();
  auto file = std::make_shared<const std::vector<std::uint8_t>>(made.encoding().begin(), made.encoding().end());
  auto read = cord::from_slice<VaultRecordV1>(*file, file);
  ASSERT_TRUE(read);
  SecretRecordV1 body = std::get<SecretRecordV1>(*read->known_body());
  const cord::ByteString key = read->signing_public_key();
  EXPECT_FALSE(key.is_view());
  EXPECT_FALSE(body.selector.tuple[0].is_view());
  EXPECT_FALSE(body.payload.ciphertext.is_view());
  file.reset();
  read = VaultRecordV1();  // the last holder of the file's bytes
  EXPECT_EQ(body, std::get<SecretRecordV1>(*made.known_body()));
  EXPECT_EQ(key, made.signing_public_key());
}

TEST(RecordViews, APartOfARecordKeepsTheRecordAlive) {
  const VaultRecordV1 made = secret_record();
  auto file = std::make_shared<const std::vector<std::uint8_t>>(made.encoding().begin(), made.encoding().end());
  const std::weak_ptr<const std::vector<std::uint8_t>> watch = file;
  RecordPart<SecretSelectorV1> selector;
  {
    auto read = cord::from_slice<VaultRecordV1>(*file, file);
    ASSERT_TRUE(read);
    selector = read->share(std::get<SecretRecordV1>(*read->known_body()).selector);
    file.reset();
  }
  EXPECT_FALSE(watch.expired());
  EXPECT_TRUE(selector->tuple[1].is_view());
  EXPECT_EQ(*selector, (SecretSelectorV1{{"app", "db"}, {{"env", "prod"}}}));
  // Parts compare by content, wherever they live.
  EXPECT_EQ(selector, RecordPart<SecretSelectorV1>::made(SecretSelectorV1{{"app", "db"}, {{"env", "prod"}}}));
  EXPECT_NE(selector, RecordPart<SecretSelectorV1>::made(SecretSelectorV1{{"app"}, {}}));
  selector = {};
  EXPECT_TRUE(watch.expired());
}

// A record that fails to decode fails alike whether its input is kept alive or copied first.
TEST(RecordViews, ErrorsAreTheSameWithOrWithoutAnOwner) {
  const VaultRecordV1 made = secret_record();
  const std::vector<std::uint8_t> whole(made.encoding().begin(), made.encoding().end());
  std::vector<std::vector<std::uint8_t>> inputs;
  for (std::size_t cut : {std::size_t{0}, std::size_t{3}, std::size_t{4}, std::size_t{10}, std::size_t{80}, whole.size() - 70, whole.size() - 1}) {
    inputs.emplace_back(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
  }
  std::vector<std::uint8_t> long_key = whole;
  const std::size_t key_at = 4 + ((std::size_t{whole[0]} << 24) | (std::size_t{whole[1]} << 16) |
                                  (std::size_t{whole[2]} << 8) | whole[3]);
  long_key[key_at] = 0x7f;  // a key length far beyond the bound
  inputs.push_back(long_key);
  std::vector<std::uint8_t> later_kind = whole;
  later_kind[7] = 0x63;  // a body kind this version does not know: kept raw
  inputs.push_back(later_kind);
  std::vector<std::uint8_t> bad_text = whole;
  const std::string_view app = "app";
  auto at = std::search(bad_text.begin(), bad_text.end(), app.begin(), app.end());
  ASSERT_NE(at, bad_text.end());
  *at = 0xff;  // a path segment that is not UTF-8
  inputs.push_back(bad_text);
  std::size_t failures = 0;
  for (const auto& input : inputs) {
    SCOPED_TRACE(testing::to_hex(input).substr(0, 40));
    auto shared = std::make_shared<const std::vector<std::uint8_t>>(input);
    auto with_owner = cord::from_slice<VaultRecordV1>(*shared, shared);
    auto without = cord::from_slice<VaultRecordV1>(input);
    ASSERT_EQ(with_owner.has_value(), without.has_value());
    if (!without) {
      ++failures;
      EXPECT_EQ(with_owner.error().message(), without.error().message());
    } else {
      EXPECT_EQ(*with_owner, *without);
    }
  }
  EXPECT_EQ(failures, inputs.size() - 1);  // all but the later kind
}

}  // namespace
}  // namespace ostrel::core
