// The bytes of each construct, written and read back: worked examples and boundaries.
#include <gtest/gtest.h>

#include <type_traits>

#include "cord/serializer.h"
#include "platform/secure_memory.h"
#include "test_types.h"

namespace ostrel::cord::testing {
namespace {

// Encoded bytes may hold secrets: every buffer lives on the secret heap, which wipes what it leaves.
static_assert(std::is_same_v<Buffer::allocator_type, platform::WipingAllocator<std::uint8_t>>);

using ostrel::testing::from_hex;
using ostrel::testing::to_hex;

template <class T>
std::string hex_of(const T& v) {
  auto r = to_vec(v);
  EXPECT_TRUE(r.has_value()) << r.error().message();
  return r ? to_hex(*r) : "";
}

template <class T>
T read_ok(std::string_view hex) {
  auto r = from_slice<T>(from_hex(hex));
  EXPECT_TRUE(r.has_value()) << r.error().message();
  return r ? *r : T{};
}

template <class T>
std::string read_error(std::string_view hex) {
  auto r = from_slice<T>(from_hex(hex));
  EXPECT_FALSE(r.has_value());
  return r ? "" : r.error().message();
}

TEST(WireFormat, StructureWithDecomposedTextIsWrittenInNfc) {
  // "cafe" + U+0301 is written precomposed (U+00E9).
  CounterText v{5, "cafe\xcc\x81"};
  EXPECT_EQ(hex_of(v), "0000000000000005" "00000005" "636166c3a9");
  EXPECT_EQ(read_ok<CounterText>("0000000000000005 00000005 636166c3a9"), (CounterText{5, "caf\xc3\xa9"}));
  EXPECT_EQ(read_error<CounterText>("0000000000000005 00000006 636166 65cc81"),
            "String is not NFC normalized");
}

TEST(WireFormat, EvolvingSlotHoldsItsPayloadBehindALength) {
  Evolving<ThreeWay> v(ThreeWay(std::in_place_index<2>, 1));
  EXPECT_EQ(hex_of(v), "0000000c" "00000002" "0000000000000001");
  auto back = read_ok<Evolving<ThreeWay>>("0000000c 00000002 0000000000000001");
  ASSERT_NE(back.known(), nullptr);
  EXPECT_EQ(std::get<2>(*back.known()), 1u);
}

TEST(WireFormat, SetIsOrderedByWholeEncoding) {
  Set<Bytes> s({{0x62}, {0x61, 0x62}, {0x61}});
  // The two-byte string comes last: its length prefix is greater.
  EXPECT_EQ(hex_of(s), "00000003" "0000000161" "0000000162" "000000026162");
  Set<Bytes> reordered({{0x61, 0x62}, {0x61}, {0x62}});
  EXPECT_EQ(hex_of(reordered), hex_of(s));
}

TEST(WireFormat, OptionsAndUnitVariants) {
  EXPECT_EQ(hex_of(std::optional<std::uint64_t>()), "00");
  EXPECT_EQ(hex_of(std::optional<std::uint64_t>(7)), "010000000000000007");
  EXPECT_EQ(hex_of(ThreeWay(UnitB{})), "00000001");
  EXPECT_EQ(read_ok<std::optional<std::uint64_t>>("010000000000000007"), 7u);
  EXPECT_EQ(read_ok<std::optional<std::uint64_t>>("00"), std::nullopt);
  EXPECT_EQ(read_error<std::optional<std::uint64_t>>("02"), "Cord could not validate: Invalid option variant");
}

TEST(WireFormat, EmptyValuesAreAZeroPrefix) {
  EXPECT_EQ(hex_of(std::string()), "00000000");
  EXPECT_EQ(hex_of(Bytes()), "00000000");
  EXPECT_EQ(hex_of(std::vector<std::string>()), "00000000");
  EXPECT_EQ(hex_of(Set<Bytes>()), "00000000");
  EXPECT_TRUE(read_ok<Set<Bytes>>("00000000").empty());
}

TEST(WireFormat, UnitEnumerationsAndIntegers) {
  EXPECT_EQ(hex_of(Colour::Blue), "00000002");
  EXPECT_EQ(read_ok<Colour>("00000001"), Colour::Green);
  EXPECT_EQ(read_error<Colour>("00000003"), "Cord encountered unknown enum variant index 3");
  EXPECT_EQ(hex_of(std::uint32_t{0x01020304}), "01020304");
  EXPECT_EQ(hex_of(std::pair<std::string, std::string>("k", "v")), "000000016b" "0000000176");
}

TEST(WireFormat, VariantIndexBoundaries) {
  // An index equal to the variant count is unknown; one less reads.
  EXPECT_EQ(read_error<ThreeWay>("00000003"), "Cord encountered unknown enum variant index 3");
  EXPECT_EQ(std::get<2>(read_ok<ThreeWay>("00000002 0000000000000009")), 9u);
  // An index in the 8-byte class must have its upper half zero.
  EXPECT_EQ(hex_of(Named<"__cord_width64", ThreeWay>{ThreeWay(UnitB{})}), "0000000000000001");
  using W64Index = Named<"__cord_width64", ThreeWay>;
  EXPECT_EQ(read_error<W64Index>("0000000100000001"),
            "Value overflow for encoding width");
}

TEST(WireFormat, VariantIndexWrittenInEachClass) {
  Buffer out;
  EXPECT_EQ(write_u32_width(out, 300, Width::W8).error().kind(), Error::Overflow);
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(write_u32_width(out, 300, Width::W64));
  EXPECT_EQ(to_hex(out), "000000000000012c");
  out.clear();
  ASSERT_TRUE(write_u32_width(out, 4, Width::W64));
  EXPECT_EQ(to_hex(out), "0000000000000004");
  out.clear();
  EXPECT_EQ(write_len(out, 0x10000, Width::W16).error().kind(), Error::Overflow);
  EXPECT_EQ(write_len(out, 0x100000000ULL, Width::W32).error().kind(), Error::Overflow);
  EXPECT_TRUE(out.empty());
}

TEST(WireFormat, TopLevelMustBeUsedUpExactly) {
  EXPECT_EQ(read_error<CounterText>(""), "Unexpected end of input");
  EXPECT_EQ(read_error<ThreeWay>(""), "Unexpected end of input");
  EXPECT_EQ(read_error<CounterText>("0000000000000001 00000000 00"), "Trailing bytes after deserialization");
  // The length check passes, then the body is short.
  EXPECT_EQ(read_error<std::string>("00000005 616263"), "Unexpected end of input");
}

TEST(WireFormat, TextRulesOnRead) {
  EXPECT_EQ(read_ok<std::string>("00000002 c3a9"), "\xc3\xa9");
  EXPECT_EQ(read_error<std::string>("00000003 65cc81"), "String is not NFC normalized");
  EXPECT_EQ(read_error<std::string>("00000001 ff"), "Invalid UTF-8");
  EXPECT_EQ(read_error<std::string>("00000002 c0af"), "Invalid UTF-8");        // overlong '/'
  EXPECT_EQ(read_error<std::string>("00000003 eda080"), "Invalid UTF-8");      // surrogate
  EXPECT_EQ(read_error<std::string>("00000004 f4908080"), "Invalid UTF-8");    // above U+10FFFF
  EXPECT_EQ(read_ok<std::string>("00000003 616263"), "abc");
}

TEST(WireFormat, WriterRefusesTextThatIsNotUtf8) {
  // Such bytes could never be read back.
  EXPECT_EQ(to_vec(std::string("a\xff")).error().kind(), Error::InvalidUtf8);
  EXPECT_EQ(to_vec(std::string("\xed\xa0\x80")).error().kind(), Error::InvalidUtf8);
}

TEST(WireFormat, LengthAndCountLimits) {
  // A prefix one above the maximum fails before the body is looked at.
  EXPECT_EQ(read_error<std::string>("01000001"), "Cord length limit exceeded: 16777217 exceeds maximum of 16777216");
  EXPECT_EQ(read_error<std::vector<CounterText>>("ffffffff"),
            "Cord length limit exceeded: 4294967295 exceeds maximum of 16777216");
  // A forged count in a short input reserves a capped amount and then runs out.
  EXPECT_EQ(read_error<std::vector<CounterText>>("000f4240 0000000000000001 00000000"),
            "Unexpected end of input");
  EXPECT_EQ(read_error<Bytes>("000f4240 00"), "Unexpected end of input");
}

TEST(WireFormat, TextOfExactlyTheMaximumLengthIsRead) {
  std::vector<std::uint8_t> input = from_hex("01000000");
  input.resize(input.size() + Deserializer::kMaxLength, 'a');
  auto r = from_slice<std::string>(input);
  ASSERT_TRUE(r.has_value()) << r.error().message();
  EXPECT_EQ(r->size(), Deserializer::kMaxLength);
}

TEST(WireFormat, DepthLimitAllows128LevelsAndRefuses129) {
  // Each Nest is a structure around a list: two levels. 64 of them put the innermost empty list
  // at depth 128.
  auto nested = [](int levels) {
    Nest n;
    for (int i = 1; i < levels; ++i) {
      Nest outer;
      outer.children.push_back(std::move(n));
      n = std::move(outer);
    }
    return n;
  };
  auto ok = to_vec(nested(64));
  ASSERT_TRUE(ok);
  EXPECT_TRUE(from_slice<Nest>(*ok).has_value());
  auto deep = to_vec(nested(65));
  ASSERT_TRUE(deep);
  EXPECT_EQ(from_slice<Nest>(*deep).error().message(), "Cord depth limit exceeded");
}

}  // namespace
}  // namespace ostrel::cord::testing
