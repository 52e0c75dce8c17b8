// Marker names: width hints, 16-byte identifiers, ordinary names, and how hints travel.
#include <gtest/gtest.h>

#include "test_types.h"

namespace ostrel::cord::testing {
namespace {

using ostrel::testing::from_hex;
using ostrel::testing::to_hex;

template <class T>
std::string hex_of(const T& v) {
  auto r = to_vec(v);
  return r ? to_hex(*r) : "error: " + r.error().message();
}
template <class T>
std::string read_back(std::string_view hex) {
  auto r = from_slice<T>(from_hex(hex));
  return r ? hex_of(*r) : "error: " + r.error().message();
}

using W8Text = Named<"__cord_width8", std::string>;
using W16Text = Named<"__cord_width16", std::string>;
using W64Text = Named<"__cord_width64", std::string>;
using VarText = Named<"__cord_varint", std::string>;
using UuidBytes = Named<"__cord_uuid", Uuid>;
using UuidText = Named<"__cord_uuid", std::string>;

TEST(Markers, EachWidthMarkerSetsTheClassOfTheTextLength) {
  EXPECT_EQ(hex_of(std::string("hi")), "000000026869");
  EXPECT_EQ(hex_of(Named<"__cord_varint", std::string>{"hi"}), "000000026869");
  EXPECT_EQ(hex_of(Named<"__cord_width8", std::string>{"hi"}), "026869");
  EXPECT_EQ(hex_of(Named<"__cord_width16", std::string>{"hi"}), "00026869");
  EXPECT_EQ(hex_of(Named<"__cord_width64", std::string>{"hi"}), "00000000000000026869");
  EXPECT_EQ(read_back<W8Text>("026869"), "026869");
  EXPECT_EQ(read_back<W16Text>("00026869"), "00026869");
  EXPECT_EQ(read_back<W64Text>("00000000000000026869"), "00000000000000026869");
  EXPECT_EQ(read_back<VarText>("000000026869"), "000000026869");
}

TEST(Markers, Width8TextBoundary) {
  std::string max(255, 'a');
  auto ok = to_vec(Named<"__cord_width8", std::string>{max});
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->size(), 256u);
  EXPECT_EQ((*ok)[0], 0xff);
  EXPECT_EQ(hex_of(Named<"__cord_width8", std::string>{max + "a"}), "error: Value overflow for encoding width");
}

TEST(Markers, HintGovernsOnlyTheFirstPrefix) {
  // A list's count takes the hint; its elements start without one.
  using Strings = Named<"__cord_width8", std::vector<std::string>>;
  EXPECT_EQ(hex_of(Strings{{"a", "b"}}), "02" "0000000161" "0000000162");
  EXPECT_EQ(read_back<Strings>("02 0000000161 0000000162"), "02" "0000000161" "0000000162");
  // A structure drops the hint at its first field.
  EXPECT_EQ(hex_of(Named<"__cord_width8", CounterText>{{1, "x"}}), "0000000000000001" "0000000178");
  // A set's count takes the hint; its first element is read without one.
  using Bset = Named<"__cord_width16", Set<Bytes>>;
  EXPECT_EQ(hex_of(Bset{Set<Bytes>(std::vector<Bytes>{{0x61}})}), "0001" "0000000161");
  EXPECT_EQ(read_back<Bset>("0001 0000000161"), "00010000000161");
  // A variant's payload starts without the hint.
  using Idx = Named<"__cord_width8", ThreeWay>;
  EXPECT_EQ(hex_of(Idx{ThreeWay(std::in_place_index<2>, 3)}), "02" "0000000000000003");
}

TEST(Markers, OrdinaryNamesPassTheHintThrough) {
  using Inner = Named<"plain_name", std::string>;
  using W8Inner = Named<"__cord_width8", Inner>;
  EXPECT_EQ(hex_of(Named<"__cord_width8", Inner>{{"hi"}}), "026869");
  EXPECT_EQ(read_back<W8Inner>("026869"), "026869");
  // "__cord_set" is ordinary outside the set writer.
  EXPECT_EQ(hex_of(Named<"__cord_set", std::string>{"hi"}), "000000026869");
  // Near-misses of marker names are ordinary names.
  EXPECT_EQ(hex_of(Named<"__cord_width", std::string>{"hi"}), "000000026869");
  EXPECT_EQ(hex_of(Named<"__cord_width8 ", std::string>{"hi"}), "000000026869");
}

TEST(Markers, NestedMarkersConflict) {
  using W8W16 = Named<"__cord_width8", Named<"__cord_width16", std::string>>;
  using W8Evo = Named<"__cord_width8", Evolving<std::string>>;
  using W16Var = Named<"__cord_width16", Named<"__cord_varint", std::string>>;
  EXPECT_EQ(hex_of(W8W16{}), "error: Conflicting encoding hints");
  EXPECT_EQ(hex_of(W8Evo{}), "error: Conflicting encoding hints");
  EXPECT_EQ(hex_of(W16Var{}), "error: Conflicting encoding hints");
  const std::string reader_text =
      "error: Cord could not validate: Conflicting sentinel nesting: cannot combine width/varint wrappers";
  EXPECT_EQ(read_back<W8W16>("026869"), reader_text);
  EXPECT_EQ(read_back<W8Evo>("00"), reader_text);
  EXPECT_EQ(read_back<W16Var>("0002"), reader_text);
}

TEST(Markers, UuidIsSixteenBytesWithoutPrefix) {
  Named<"__cord_uuid", Uuid> id;
  for (int i = 0; i < 16; ++i) id.value[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(hex_of(id), "000102030405060708090a0b0c0d0e0f");
  EXPECT_EQ(read_back<UuidBytes>("000102030405060708090a0b0c0d0e0f"),
            "000102030405060708090a0b0c0d0e0f");
  EXPECT_EQ(read_back<UuidBytes>("0001"), "error: Unexpected end of input");
  // Anything but a byte string under the name fails after the 16 bytes are taken.
  EXPECT_EQ(read_back<UuidText>("000102030405060708090a0b0c0d0e0f"),
            "error: Cord could not validate: FixedBytesDeserializer only supports deserialize_bytes");
  // The uuid name ignores a pending hint on both sides.
  EXPECT_EQ(hex_of(Named<"__cord_width8", Named<"__cord_uuid", Uuid>>{id}), hex_of(id));
}

TEST(Markers, EvolvingWidthClassifiesExactly) {
  struct Case {
    std::string_view name;
    std::optional<Width> want;
  };
  const Case cases[] = {
      {"__cord_evolving8", Width::W8},       {"__cord_evolving16", Width::W16},
      {"__cord_evolving32", Width::W32},     {"__cord_evolving8_raw", Width::W8},
      {"__cord_evolving16_raw", Width::W16}, {"__cord_evolving32_raw", Width::W32},
      {"__cord_evolving64", std::nullopt},   {"__cord_evolving", std::nullopt},
      {"__cord_evolving32_ra", std::nullopt}, {"__CORD_EVOLVING32", std::nullopt},
      {"__cord_set", std::nullopt},          {"__cord_width8", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(evolving_width(c.name), c.want) << c.name;
  EXPECT_EQ(marker_hint("__cord_varint"), WidthHint::Varint);
  EXPECT_EQ(marker_hint("__cord_width8"), WidthHint::Width8);
  EXPECT_EQ(marker_hint("__cord_width16"), WidthHint::Width16);
  EXPECT_EQ(marker_hint("__cord_width64"), WidthHint::Width64);
  EXPECT_EQ(marker_hint("__cord_width32"), std::nullopt);
  EXPECT_EQ(marker_hint("__cord_uuid"), std::nullopt);
}

TEST(Markers, HintPassesThroughAnOptionToItsValue) {
  using Opt = Named<"__cord_width8", std::optional<std::string>>;
  EXPECT_EQ(hex_of(Opt{std::string("hi")}), "01026869");
  EXPECT_EQ(read_back<Opt>("01026869"), "01026869");
  EXPECT_EQ(hex_of(Opt{}), "00");
}

}  // namespace
}  // namespace ostrel::cord::testing
