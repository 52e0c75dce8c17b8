// Canonical sets: the writer's order and duplicate refusal, the reader's order check.
#include <gtest/gtest.h>

#include <random>

#include "test_types.h"

namespace ostrel::cord::testing {
namespace {

using ostrel::testing::from_hex;
using ostrel::testing::to_hex;

TEST(CanonicalSet, SameElementsInAnyOrderGiveTheSameBytes) {
  std::vector<Bytes> elems = {{0x62}, {0x61, 0x62}, {0x61}, {}, {0x61, 0x61}};
  const std::string want = to_hex(*to_vec(Set<Bytes>(elems)));
  std::sort(elems.begin(), elems.end());
  do {
    EXPECT_EQ(to_hex(*to_vec(Set<Bytes>(elems))), want);
  } while (std::next_permutation(elems.begin(), elems.end()));
}

TEST(CanonicalSet, EqualEncodingsCannotBeWritten) {
  // Distinct in memory, equal once written: both texts are stored in NFC.
  Set<std::string> s({"caf\xc3\xa9", "cafe\xcc\x81"});
  Buffer out = {0xaa};
  Serializer ser(out);
  auto r = serialize_set(ser, s.items(), WidthHint::None);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "Cord serialization error: Duplicate element in set");
  EXPECT_EQ(to_hex(out), "aa");  // output untouched
  EXPECT_EQ(to_vec(Set<Bytes>(std::vector<Bytes>{{1}, {1}})).error().message(),
            "Cord serialization error: Duplicate element in set");
}

TEST(CanonicalSet, ElementWriteFailureIsWrapped) {
  Set<Named<"__cord_width8", std::string>> s({{std::string(300, 'a')}});
  EXPECT_EQ(to_vec(s).error().message(), "Cord serialization error: Value overflow for encoding width");
  // The count's own overflow is not wrapped.
  std::vector<Bytes> many(256);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = {static_cast<std::uint8_t>(i)};
  auto r = to_vec(Named<"__cord_width8", Set<Bytes>>{Set<Bytes>(many)});
  EXPECT_EQ(r.error().kind(), Error::Overflow);
}

TEST(CanonicalSet, ReaderRefusesRepeatsAndDescendingOrder) {
  struct Case {
    const char* name;
    const char* hex;
    const char* want;  // empty: accepted
  };
  const Case cases[] = {
      {"ascending", "00000003 0000000161 0000000162 000000026162", ""},
      {"shorter_prefix_first", "00000002 000000026162 00000003616263", ""},
      {"longer_first", "00000002 00000003616263 000000026162", "Cord deserialization error: Duplicate element in set"},
      {"repeated", "00000002 0000000161 0000000161", "Cord deserialization error: Duplicate element in set"},
      {"descending", "00000002 0000000162 0000000161", "Cord deserialization error: Duplicate element in set"},
      {"empty", "00000000", ""},
      {"element_cut_short", "00000001 00000002 61", "Unexpected end of input"},
  };
  for (const Case& c : cases) {
    auto r = from_slice<Set<Bytes>>(from_hex(c.hex));
    if (*c.want == 0) {
      EXPECT_TRUE(r) << c.name << ": " << r.error().message();
      if (r) {
        EXPECT_EQ(to_hex(*to_vec(*r)), to_hex(from_hex(c.hex))) << c.name;
      }
    } else {
      ASSERT_FALSE(r) << c.name;
      EXPECT_EQ(r.error().message(), c.want) << c.name;
    }
  }
}

TEST(CanonicalSet, ElementDecodeFailuresAreUnwrapped) {
  // A text element not in NFC fails the set with NotNfc itself.
  auto r = from_slice<Set<std::string>>(from_hex("00000001 00000003 65cc81"));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), Error::NotNfc);
}

TEST(CanonicalSet, EvolvingElementsOrderByPayloadLengthFirst) {
  using Elem = Evolving<Bytes>;
  Set<Elem> s({Elem(Bytes{0x00, 0x00}), Elem(Bytes{0xff})});
  // The one-byte payload (shorter length prefix) sorts first despite its larger content.
  EXPECT_EQ(to_hex(*to_vec(s)), "00000002" "00000005" "00000001ff" "00000006" "000000020000");
  auto back = from_slice<Set<Elem>>(*to_vec(s));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, s);
  // Raw elements take part in the order with their exact bytes.
  auto raw = from_slice<Set<Evolving<ThreeWay>>>(from_hex("00000002 00000004 00000001 00000004 00000009"));
  ASSERT_TRUE(raw) << raw.error().message();
  EXPECT_TRUE(raw->items()[1].is_raw());
  EXPECT_EQ(to_hex(*to_vec(*raw)), "00000002" "0000000400000001" "0000000400000009");
}

TEST(CanonicalSet, HintedCountAndUnhintedElements) {
  auto r = from_slice<Named<"__cord_width8", Set<std::string>>>(from_hex("01 0000000161"));
  ASSERT_TRUE(r) << r.error().message();
  EXPECT_EQ(r->value.items(), std::vector<std::string>{"a"});
}

TEST(CanonicalSet, ReadUnderAnEvolvingNameIsAnInvalidType) {
  std::vector<Bytes> out;
  const auto input = from_hex("00000004 00000000");
  Deserializer d(input);
  auto r = deserialize_set(d, WidthHint::None, marker::kEvolving32, out);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "Cord deserialization error: invalid type: byte array, expected set");
}

TEST(CanonicalSet, EncodingOrderOfTwoValues) {
  EXPECT_TRUE(encoding_is_less(Bytes{0xff}, Bytes{0x00, 0x00}));
  EXPECT_FALSE(encoding_is_less(Bytes{0x00, 0x00}, Bytes{0xff}));
  EXPECT_FALSE(encoding_is_less(Bytes{1}, Bytes{1}));
  // A value that cannot be written counts as empty: before everything, equal to another failure.
  using W8 = Named<"__cord_width8", std::string>;
  const W8 bad{std::string(300, 'a')};
  EXPECT_TRUE(encoding_is_less(bad, W8{""}));
  EXPECT_FALSE(encoding_is_less(W8{""}, bad));
  EXPECT_FALSE(encoding_is_less(bad, bad));
}

TEST(CanonicalSet, VersionedStoreOfNothing) {
  EXPECT_EQ(to_hex(*to_vec_versioned(Set<Bytes>())), "0000000000000000");
  EXPECT_EQ(to_hex(*to_vec_versioned(Set<Bytes>(std::vector<Bytes>{{0x61}}))), "00000000" "00000001" "0000000161");
}

}  // namespace
}  // namespace ostrel::cord::testing

namespace ostrel::cord::testing {
namespace {

// Insertion keeps an index of what is already there, also across direct edits of the elements.
TEST(CanonicalSet, InsertRefusesEqualElementsAcrossEdits) {
  Set<Bytes> s;
  for (int i = 0; i < 2000; ++i) {
    EXPECT_TRUE(s.insert(Bytes{static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)})) << i;
  }
  for (int i = 0; i < 2000; ++i) {
    EXPECT_FALSE(s.insert(Bytes{static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)})) << i;
  }
  EXPECT_EQ(s.size(), 2000u);
  s.items().push_back(Bytes{7, 7, 7});
  EXPECT_FALSE(s.insert(Bytes{7, 7, 7}));
  s.items()[0] = Bytes{9};
  EXPECT_FALSE(s.insert(Bytes{9}));
  EXPECT_TRUE(s.insert(Bytes{0, 0}));
  EXPECT_EQ(s.size(), 2002u);
  Set<Bytes> copy = s;
  EXPECT_FALSE(copy.insert(Bytes{0, 0}));
  EXPECT_TRUE(copy == s);
}

// The grouped writer against the sorting one on the same staged elements: random elements, short
// ones (under the eight bytes it groups by, some a prefix of others) and long ones sharing leading
// bytes, in runs that are ascending within a group, or not, with and without a repeat.
TEST(CanonicalSet, GroupedWriterWritesAndRefusesAsTheSortingOne) {
  std::mt19937_64 rng(42);
  auto below = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  for (int round = 0; round < 400; ++round) {
    const std::size_t n = below(3) == 0 ? below(4) : 1 + below(200);
    const bool ascending_runs = below(2) == 0;
    std::vector<Bytes> elems;
    for (std::size_t i = 0; i < n; ++i) {
      Bytes e(below(3) == 0 ? below(9) : 8 + below(6));
      // Few distinct leading bytes, so that groups hold many elements.
      for (std::size_t k = 0; k < e.size(); ++k) e[k] = static_cast<std::uint8_t>(k < 6 ? below(2) : rng());
      elems.push_back(std::move(e));
    }
    if (ascending_runs) std::sort(elems.begin(), elems.end(), [](const Bytes& a, const Bytes& b) {
      return bytes_less(ByteView(a).subspan(std::min<std::size_t>(8, a.size())),
                        ByteView(b).subspan(std::min<std::size_t>(8, b.size())));
    });
    if (n > 1 && below(4) == 0) elems.push_back(elems[below(n)]);  // a repeat
    Buffer scratch;
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    for (const Bytes& e : elems) {
      ranges.emplace_back(scratch.size(), scratch.size() + e.size());
      scratch.insert(scratch.end(), e.begin(), e.end());
    }
    Buffer want = {0xaa}, got = {0xaa};
    Serializer ws(want), gs(got);
    auto w = serialize_encoded_set(ws, scratch, ranges, WidthHint::None);
    auto g = serialize_encoded_set_grouped(gs, scratch, ranges, WidthHint::None);
    ASSERT_EQ(g.has_value(), w.has_value()) << "round " << round;
    if (!w) {
      EXPECT_EQ(g.error().message(), w.error().message());
    }
    EXPECT_EQ(to_hex(got), to_hex(want)) << "round " << round;
  }
}

}  // namespace
}  // namespace ostrel::cord::testing
