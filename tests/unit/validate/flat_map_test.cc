// The sorted-vector map the ratchet is held in: every operation leaves the entries as a std::map
// given the same operations would hold them, in the same order, and a batch folds its keys as
// inserting its entries one at a time would.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/validate/flat_map.h"

namespace ostrel::validate {
namespace {

using Map = FlatMap<int, std::string>;
using Entries = std::vector<std::pair<int, std::string>>;

Entries entries_of(const Map& m) { return Entries(m.begin(), m.end()); }

template <class Model>
Entries entries_of_model(const Model& m) {
  return Entries(m.begin(), m.end());
}

TEST(FlatMap, SingleEditsKeepKeyOrder) {
  Map m = {{10, "ten"}, {30, "thirty"}};
  // Into the middle, the front and the back.
  EXPECT_TRUE(m.try_emplace(20, "twenty").second);
  EXPECT_TRUE(m.try_emplace(5, "five").second);
  EXPECT_TRUE(m.try_emplace(40, "forty").second);
  EXPECT_EQ(entries_of(m), (Entries{{5, "five"}, {10, "ten"}, {20, "twenty"}, {30, "thirty"}, {40, "forty"}}));

  // insert_or_assign replaces a held value and adds an absent key in its place.
  auto [replaced, added] = m.insert_or_assign(20, "TWENTY");
  EXPECT_FALSE(added);
  EXPECT_EQ(replaced->second, "TWENTY");
  auto [put, put_added] = m.insert_or_assign(25, "twenty-five");
  EXPECT_TRUE(put_added);
  EXPECT_EQ(put - m.begin(), 3);

  // operator[] adds a default value only when absent.
  EXPECT_EQ(m[30], "thirty");
  EXPECT_EQ(m[35], "");
  m[35] = "thirty-five";

  // Absent keys: below, between and above every key held.
  for (int absent : {0, 7, 26, 99}) {
    EXPECT_EQ(m.find(absent), m.end()) << absent;
    EXPECT_FALSE(m.contains(absent)) << absent;
    EXPECT_EQ(m.erase(absent), 0u) << absent;
  }
  EXPECT_EQ(m.erase(10), 1u);
  EXPECT_EQ(m.erase(10), 0u);
  EXPECT_EQ(entries_of(m), (Entries{{5, "five"},
                                    {20, "TWENTY"},
                                    {25, "twenty-five"},
                                    {30, "thirty"},
                                    {35, "thirty-five"},
                                    {40, "forty"}}));
  EXPECT_EQ(m.lower_bound(26)->first, 30);
  EXPECT_EQ(m.lower_bound(41), m.end());
}

TEST(FlatMap, LowerBoundFromAgreesWithLowerBound) {
  // Every start at or before the answer, every key: galloping must land where bisection does.
  Map m;
  for (int k = 0; k < 40; ++k) m.push_back(3 * k, "");
  for (int key = -1; key <= 3 * 40 + 1; ++key) {
    const auto want = m.lower_bound(key);
    for (auto from = m.begin(); from <= want; ++from) {
      ASSERT_EQ(m.lower_bound_from(from, key), want) << "key " << key << " from " << (from - m.begin());
    }
  }
  Map none;
  EXPECT_EQ(none.lower_bound_from(none.begin(), 1), none.end());
  // The const form walks a const map alike.
  const Map& read_only = m;
  for (int key = -1; key <= 3 * 40 + 1; key += 5) {
    for (auto from = read_only.begin(); from <= read_only.lower_bound(key); ++from) {
      ASSERT_EQ(read_only.lower_bound_from(from, key), read_only.lower_bound(key)) << "key " << key;
    }
  }
}

TEST(FlatMap, EraseIfAsksInKeyOrderOnceEach) {
  // Callers walk another sorted map alongside the predicate, so the order it is asked in is part
  // of its contract; what survives is what std::map would keep.
  Map m;
  std::map<int, std::string> model;
  for (int k : {9, 2, 7, 4, 1, 8, 3}) {
    m.try_emplace(k, std::to_string(k));
    model.emplace(k, std::to_string(k));
  }
  std::vector<int> asked;
  m.erase_if([&](int key, const std::string&) {
    asked.push_back(key);
    return key % 3 != 1;
  });
  std::erase_if(model, [](const auto& e) { return e.first % 3 != 1; });
  EXPECT_EQ(asked, (std::vector<int>{1, 2, 3, 4, 7, 8, 9}));
  EXPECT_EQ(entries_of(m), entries_of_model(model));
}

TEST(FlatMap, InsertAbsentMergesIntoPlace) {
  struct Case {
    const char* name;
    Entries held;
    Entries added;
  };
  const Case cases[] = {
      {"into_empty", {}, {{1, "a"}, {2, "b"}}},
      {"before_all", {{5, "e"}, {6, "f"}}, {{1, "a"}, {2, "b"}}},
      {"after_all", {{1, "a"}}, {{5, "e"}, {6, "f"}}},
      {"interleaved", {{2, "b"}, {4, "d"}, {6, "f"}}, {{1, "a"}, {3, "c"}, {5, "e"}, {7, "g"}}},
      {"nothing", {{2, "b"}}, {}},
  };
  for (const Case& c : cases) {
    Map m;
    std::map<int, std::string> model;
    for (const auto& [k, v] : c.held) {
      m.push_back(k, v);
      model.emplace(k, v);
    }
    for (const auto& [k, v] : c.added) model.emplace(k, v);
    m.insert_absent(Entries(c.added));
    EXPECT_EQ(entries_of(m), entries_of_model(model)) << c.name;
  }
}

// A batch's result is that of inserting its entries one at a time into a std::map, for the fold
// rules the ratchet uses (the highest value; the first met) and the opposite one (the last met),
// over random batches full of repeated keys, into maps that already hold some of them.
TEST(FlatMap, InsertBatchFoldsAsInsertingEachInTurn) {
  struct Rule {
    const char* name;
    void (*fold)(std::string& held, std::string&& met);
  };
  const Rule rules[] = {
      {"highest", [](std::string& held, std::string&& met) { held = std::max(held, met); }},
      {"first_met", [](std::string&, std::string&&) {}},
      {"last_met", [](std::string& held, std::string&& met) { held = std::move(met); }},
  };
  std::mt19937 rng(22);
  auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (const Rule& rule : rules) {
    for (int round = 0; round < 200; ++round) {
      const int keys = 1 + below(30);
      Map m;
      std::map<int, std::string> model;
      for (int k = 0; k < keys; ++k) {
        if (below(3) == 0) {
          m.push_back(k, "held" + std::to_string(k));
          model.emplace(k, "held" + std::to_string(k));
        }
      }
      Entries batch;
      // Batches of a few runs are merged run by run; longer random ones are sorted whole.
      const int n = round % 4 == 3 ? 200 + below(200) : below(60);
      for (int i = 0; i < n; ++i) batch.emplace_back(below(keys), std::to_string(below(10)) + "#" + std::to_string(i));
      if (round % 5 == 0) std::sort(batch.begin(), batch.end());  // the sorted path too
      for (auto [k, v] : batch) {
        auto [it, added] = model.try_emplace(k, v);
        if (!added) rule.fold(it->second, std::move(v));
      }
      m.insert_batch(std::move(batch), rule.fold);
      ASSERT_EQ(entries_of(m), entries_of_model(model)) << rule.name << " round " << round;
    }
  }
}

}  // namespace
}  // namespace ostrel::validate
