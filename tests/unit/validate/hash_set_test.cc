// The flat set of record hashes that a derivation takes as verified: it answers every lookup as
// std::unordered_set would given the same inserts, keeps its values once each in the order they
// were first added, and survives growth of its table.
#include <gtest/gtest.h>

#include <random>
#include <unordered_set>
#include <vector>

#include "core/validate/hash_set.h"

namespace ostrel::validate {
namespace {

// A value of `length` bytes; lengths above 32 live on the heap.
HashValue value_of(std::mt19937_64& rng, std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return HashValue(bytes);
}

// Values drawn from a small pool, so that many repeat, of mixed lengths (a file may hold any).
std::vector<HashValue> draws(std::mt19937_64& rng, std::size_t pool_size, std::size_t count) {
  std::vector<HashValue> pool;
  for (std::size_t i = 0; i < pool_size; ++i) {
    const std::size_t length = i % 7 == 0 ? rng() % 40 : 32;  // empty, short and long ones too
    pool.push_back(value_of(rng, length));
  }
  std::vector<HashValue> out;
  for (std::size_t i = 0; i < count; ++i) out.push_back(pool[rng() % pool.size()]);
  return out;
}

std::vector<HashValue> first_occurrences(const std::vector<HashValue>& values) {
  std::unordered_set<HashValue> seen;
  std::vector<HashValue> out;
  for (const HashValue& v : values) {
    if (seen.insert(v).second) out.push_back(v);
  }
  return out;
}

void expect_same_lookups(const HashSet& set, const std::unordered_set<HashValue>& model,
                         const std::vector<HashValue>& probes) {
  ASSERT_EQ(set.size(), model.size());
  EXPECT_EQ(set.empty(), model.empty());
  for (const HashValue& p : probes) EXPECT_EQ(set.contains(p), model.contains(p)) << p.debug();
  // The batched lookup answers each as the single one does, batches cut short at the end too.
  for (std::size_t n : {probes.size(), probes.size() - probes.size() / 3, std::size_t{1}, std::size_t{0}}) {
    const std::vector<std::uint8_t> held =
        set.contains_each(n, [&](std::size_t i) -> const HashValue& { return probes[i]; });
    ASSERT_EQ(held.size(), n);
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(held[i] != 0, model.contains(probes[i])) << probes[i].debug();
  }
}

TEST(HashSet, AgreesWithUnorderedSetOnRandomInserts) {
  struct Case {
    const char* name;
    std::size_t pool;
    std::size_t draws;
    bool reserve_first;
  };
  const Case cases[] = {
      {"empty", 1, 0, false},
      {"one_value_many_times", 1, 50, false},
      {"grows_from_nothing_through_many_tables", 3000, 9000, false},
      {"reserved_too_little", 500, 2000, true},
      {"mostly_distinct", 100000, 20000, false},
  };
  std::mt19937_64 rng(22);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<HashValue> inserted = draws(rng, c.pool, c.draws);
    HashSet set;
    if (c.reserve_first) set.reserve(c.draws / 8);
    std::unordered_set<HashValue> model;
    for (const HashValue& v : inserted) ASSERT_EQ(set.insert(v), model.insert(v).second) << v.debug();

    std::vector<HashValue> probes = inserted;
    for (int i = 0; i < 2000; ++i) probes.push_back(value_of(rng, i % 5 == 0 ? rng() % 40 : 32));  // absent
    expect_same_lookups(set, model, probes);
    EXPECT_EQ(std::vector<HashValue>(set.begin(), set.end()), first_occurrences(inserted));

    // Built from the whole list at once: the same values, duplicates dropped, first order kept.
    const HashSet built(inserted);
    expect_same_lookups(built, model, probes);
    EXPECT_EQ(std::vector<HashValue>(built.begin(), built.end()), first_occurrences(inserted));

    // A copy answers alike and does not share its table with the original.
    HashSet copy = set;
    const HashValue extra = value_of(rng, 32);
    EXPECT_TRUE(copy.insert(extra));
    EXPECT_TRUE(copy.contains(extra));
    EXPECT_FALSE(set.contains(extra));
  }
}

TEST(HashSet, EmptyAndReservedSetsHoldNothing) {
  std::mt19937_64 rng(7);
  const HashValue v = value_of(rng, 32);
  const HashSet none;
  EXPECT_FALSE(none.contains(v));
  EXPECT_FALSE(none.contains(HashValue()));
  EXPECT_EQ(none.begin(), none.end());

  HashSet reserved;
  reserved.reserve(1000);
  EXPECT_FALSE(reserved.contains(v));
  EXPECT_TRUE(reserved.empty());
  // The empty value is a value like any other.
  EXPECT_TRUE(reserved.insert(HashValue()));
  EXPECT_FALSE(reserved.insert(HashValue()));
  EXPECT_TRUE(reserved.contains(HashValue()));
  EXPECT_FALSE(reserved.contains(v));
  // A value that is a prefix of another, or extends it, is a different value.
  const HashValue longer(std::vector<std::uint8_t>(v.bytes.begin(), v.bytes.end() - 1));
  EXPECT_TRUE(reserved.insert(v));
  EXPECT_FALSE(reserved.contains(longer));
  EXPECT_EQ(reserved.size(), 2u);
}

TEST(HashSet, ValuesAlikeButForTheirLastBytesStayApart) {
  // Digests sharing their leading bytes, as someone writing a file could pick them: each is
  // found, and no unequal one is mistaken for another.
  std::vector<HashValue> values;
  for (int i = 0; i < 4096; ++i) {
    std::vector<std::uint8_t> bytes(32, 0xab);
    bytes[30] = static_cast<std::uint8_t>(i >> 8);
    bytes[31] = static_cast<std::uint8_t>(i);
    values.emplace_back(bytes);
  }
  const std::vector<HashValue> evens = [&] {
    std::vector<HashValue> out;
    for (std::size_t i = 0; i < values.size(); i += 2) out.push_back(values[i]);
    return out;
  }();
  const HashSet set(evens);
  ASSERT_EQ(set.size(), evens.size());
  for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(set.contains(values[i]), i % 2 == 0) << i;
}

}  // namespace
}  // namespace ostrel::validate
