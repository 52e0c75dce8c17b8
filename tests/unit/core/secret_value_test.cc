// Plaintext values: they move but copy only by clone(), have no `==`, refuse a field entry given
// twice, and decode straight into wiping memory of their own.
#include <gtest/gtest.h>

#include <concepts>
#include <string>
#include <type_traits>
#include <vector>

#include "core/seal.h"
#include "core/secret_value.h"
#include "support/hex.h"
#include "support/secret_text.h"

namespace ostrel::core {
namespace {

using testing::secret_of;
using testing::text_of;

template <class T>
constexpr bool kMoveOnlyWithoutEquality = !std::is_copy_constructible_v<T> && !std::is_copy_assignable_v<T> &&
                                          std::is_nothrow_move_constructible_v<T> && !std::equality_comparable<T>;
static_assert(kMoveOnlyWithoutEquality<SecretFieldEntryV1>);
static_assert(kMoveOnlyWithoutEquality<SecretValueV1>);
static_assert(kMoveOnlyWithoutEquality<SecretRead>);

// (key, value) of each field in the order held.
std::vector<std::pair<std::string, std::string>> pairs_of(const std::vector<SecretFieldEntryV1>& fields) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const SecretFieldEntryV1& f : fields) out.emplace_back(f.key, text_of(f.value));
  return out;
}

TEST(SecretValue, AddFieldRefusesOnlyAnEntryAlreadyThere) {
  SecretValueV1 value{secret_of("v"), {}};
  struct Case {
    const char* name;
    std::string key;
    std::string value;
    bool added;
  };
  const Case cases[] = {
      {"first entry", "user", "admin", true},
      {"same key, other value", "user", "root", true},
      {"other key, same value", "login", "admin", true},
      {"same key and value", "user", "admin", false},
      {"value that is a prefix", "user", "adm", true},
      {"empty value", "user", "", true},
      {"empty value again", "user", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(value.add_field(c.key, secret_of(c.value)), c.added) << c.name;
  EXPECT_EQ(pairs_of(value.fields.items()),
            (std::vector<std::pair<std::string, std::string>>{
                {"user", "admin"}, {"user", "root"}, {"login", "admin"}, {"user", "adm"}, {"user", ""}}));
  // What add_field lets in can always be encoded.
  EXPECT_TRUE(cord::to_vec(value));
}

TEST(SecretValue, CloneIsADeepCopy) {
  SecretValueV1 value{secret_of("hunter2"), {}};
  value.add_field("host", secret_of("db1"));
  const SecretValueV1 copy = value.clone();
  ASSERT_EQ(copy.fields.size(), 1u);
  EXPECT_NE(copy.value.data(), value.value.data());
  EXPECT_NE(copy.fields.items()[0].value.data(), value.fields.items()[0].value.data());
  value.value.span()[0] = 'H';
  value.fields.items()[0].value.span()[0] = 'D';
  EXPECT_EQ(text_of(copy.value), "hunter2");
  EXPECT_EQ(pairs_of(copy.fields.items()), (std::vector<std::pair<std::string, std::string>>{{"host", "db1"}}));

  SecretRead read{SecretSelectorV1{{"app"}, {}}, secret_of("x"), {}};
  read.fields.push_back(SecretFieldEntryV1{"k", secret_of("y")});
  const SecretRead read_copy = read.clone();
  read.fields[0].value.span()[0] = 'z';
  EXPECT_EQ(read_copy.selector, read.selector);
  EXPECT_EQ(text_of(read_copy.value), "x");
  EXPECT_EQ(pairs_of(read_copy.fields), (std::vector<std::pair<std::string, std::string>>{{"k", "y"}}));
}

TEST(SecretValue, DecodesIntoItsOwnMemory) {
  // "ab" with the fields b=2 and ab=1, in encoding order.
  const std::vector<std::uint8_t> encoding =
      testing::from_hex("00000002 6162 00000002 00000001 62 00000001 32 00000002 6162 00000001 31");
  auto value = cord::from_slice<SecretValueV1>(encoding);
  ASSERT_TRUE(value) << value.error().message();
  EXPECT_EQ(text_of(value->value), "ab");
  EXPECT_EQ(pairs_of(value->fields.items()), (std::vector<std::pair<std::string, std::string>>{{"b", "2"}, {"ab", "1"}}));
  // No byte of the value or its fields points into the input, which a caller wipes and frees.
  const auto outside = [&](const platform::SecretBytes& s) {
    const std::uint8_t* p = s.data();
    return std::less<>()(p, encoding.data()) || !std::less<>()(p, encoding.data() + encoding.size());
  };
  EXPECT_TRUE(outside(value->value));
  for (const SecretFieldEntryV1& f : value->fields) EXPECT_TRUE(outside(f.value)) << f.key;
  auto again = cord::to_vec(*value);
  ASSERT_TRUE(again);
  EXPECT_EQ(std::vector<std::uint8_t>(again->begin(), again->end()), encoding);
}

}  // namespace
}  // namespace ostrel::core
