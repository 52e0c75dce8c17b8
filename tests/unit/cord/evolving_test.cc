// Evolving slots: payload lengths, raw passthrough of later versions' values, nested failures.
#include <gtest/gtest.h>

#include "test_types.h"

namespace ostrel::cord::testing {
namespace {

using ostrel::testing::from_hex;
using ostrel::testing::to_hex;

template <class T>
Result<T> read(std::string_view hex) {
  return from_slice<T>(from_hex(hex));
}

TEST(Evolving, UnknownTopLevelVariantIsKeptRawAndWrittenBackIdentically) {
  const std::string input = "00000005" "00000063" "01";
  auto r = read<Evolving<ThreeWay>>(input);
  ASSERT_TRUE(r) << r.error().message();
  ASSERT_TRUE(r->is_raw());
  EXPECT_EQ(to_hex(r->raw_payload()), "0000006301");
  EXPECT_EQ(to_hex(*to_vec(*r)), input);
}

TEST(Evolving, RawFormIsWrittenUnderItsLength) {
  auto raw = Evolving<ThreeWay>::raw(from_hex("0000006301"));
  EXPECT_EQ(to_hex(*to_vec(raw)), "000000050000006301");
}

TEST(Evolving, UnknownVariantNestedInAKnownVariantMakesTheWholePayloadRaw) {
  // TwoWay variant 1 (Outer) holds a ThreeWay with index 7.
  const std::string input = "00000010" "00000001" "0000000000000009" "00000007";
  auto r = read<Evolving<TwoWay>>(input);
  ASSERT_TRUE(r) << r.error().message();
  ASSERT_TRUE(r->is_raw());
  EXPECT_EQ(to_hex(*to_vec(*r)), input);
}

TEST(Evolving, PayloadLengthMustMatchItsValue) {
  // One byte more than the value: trailing bytes inside the payload.
  EXPECT_EQ(read<Evolving<ThreeWay>>("0000000d 00000002 0000000000000001 00").error().message(),
            "Cord deserialization error: trailing bytes in evolving payload");
  // One byte less: the payload is decoded alone and runs out; the error comes wrapped.
  EXPECT_EQ(read<Evolving<ThreeWay>>("0000000b 00000002 00000000000000 01").error().message(),
            "Cord deserialization error: Unexpected end of input");
  // A length beyond the input is the outer reader's own UnexpectedEnd.
  EXPECT_EQ(read<Evolving<ThreeWay>>("00000010 00000002").error().message(), "Unexpected end of input");
  EXPECT_EQ(read<Evolving<ThreeWay>>("01000001").error().message(),
            "Cord length limit exceeded: 16777217 exceeds maximum of 16777216");
}

struct Holder {
  Evolving<ThreeWay> inner;
  static auto cord_fields(auto& s) { return std::tie(s.inner); }
};

// An evolving slot below many levels of structure and list.
struct Deep {
  std::vector<Deep> children;
  std::vector<Evolving<Nest>> leaf;
  static auto cord_fields(auto& s) { return std::tie(s.children, s.leaf); }
};

TEST(Evolving, NestedPayloadFailuresGainOnePrefixPerLevel) {
  // Outer payload: the inner slot says 4 bytes but holds a 2-byte index prefix only.
  auto r = read<Evolving<Holder>>("00000006 00000004 0000");
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "Cord deserialization error: Unexpected end of input");
  auto deeper = read<Evolving<Holder>>("00000008 00000004 00000002");
  ASSERT_FALSE(deeper);
  EXPECT_EQ(deeper.error().message(),
            "Cord deserialization error: Cord deserialization error: Unexpected end of input");
}

TEST(Evolving, InnerWriteFailureIsReturnedUnwrapped) {
  using Slot = Evolving<Named<"__cord_width8", std::string>>;
  EXPECT_EQ(to_vec(Slot(Named<"__cord_width8", std::string>{std::string(256, 'x')})).error().kind(),
            Error::Overflow);
}

TEST(Evolving, SmallerLengthClasses) {
  using E8 = Evolving<Bytes, Width::W8>;
  using E16 = Evolving<Bytes, Width::W16>;
  // A 4-byte count plus 251 bytes is a 255-byte payload: fits class 0 exactly.
  auto ok = to_vec(E8(Bytes(251, 7)));
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->size(), 256u);
  EXPECT_EQ((*ok)[0], 0xff);
  EXPECT_EQ(to_vec(E8(Bytes(252, 7))).error().kind(), Error::Overflow);
  auto back = from_slice<E8>(*ok);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->known()->size(), 251u);
  auto e16 = to_vec(E16(Bytes{1, 2}));
  ASSERT_TRUE(e16);
  EXPECT_EQ(to_hex(*e16), "0006" "00000002" "0102");
  EXPECT_EQ(to_hex(*to_vec(*from_slice<E16>(*e16))), to_hex(*e16));
}

TEST(Evolving, NonEvolvingNamesReadTheValueInPlace) {
  const auto input = from_hex("00000002 0000000000000004");
  Deserializer d(input);
  Evolving<ThreeWay> out;
  ASSERT_TRUE(deserialize_evolving(d, WidthHint::None, "some_name", out));
  ASSERT_NE(out.known(), nullptr);
  EXPECT_EQ(std::get<2>(*out.known()), 4u);
  // In place, an unknown variant is the final error.
  const auto unknown = from_hex("00000009");
  Deserializer bad(unknown);
  EXPECT_EQ(deserialize_evolving(bad, WidthHint::None, "some_name", out).error().kind(), Error::UnknownVariant);
}

TEST(Evolving, PayloadLimitsRestartInsideEachPayload) {
  // An evolving slot at the bottom of 63 Nest levels (126 compound levels, plus the holder's
  // own) still decodes its payload from depth 1.
  Nest payload;
  for (int i = 1; i < 64; ++i) {
    Nest outer;
    outer.children.push_back(std::move(payload));
    payload = std::move(outer);
  }
  Deep d;
  d.leaf.emplace_back(payload);
  for (int i = 1; i < 64; ++i) {
    Deep outer;
    outer.children.push_back(std::move(d));
    d = std::move(outer);
  }
  auto bytes = to_vec(d);
  ASSERT_TRUE(bytes);
  auto back = from_slice<Deep>(*bytes);
  EXPECT_TRUE(back) << back.error().message();
}

}  // namespace
}  // namespace ostrel::cord::testing
