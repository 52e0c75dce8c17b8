// FlatMap: a map held as one vector of entries sorted by key, with no node per entry; searched by
// bisection. Built once in key order, or from a batch sorted once, it costs only its entries. A
// single insert shifts the entries after it, so many keys at once go in as a batch. Any insert
// may move every entry: iterators and references into the map do not survive one. A value; not
// synchronised.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <utility>
#include <vector>

namespace ostrel::validate {

template <class K, class V>
class FlatMap {
 public:
  using value_type = std::pair<K, V>;
  using iterator = typename std::vector<value_type>::iterator;
  using const_iterator = typename std::vector<value_type>::const_iterator;

  FlatMap() = default;
  // As std::map's: entries sorted, the first of equal keys kept.
  FlatMap(std::initializer_list<value_type> entries) {
    for (const value_type& e : entries) try_emplace(e.first, e.second);
  }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  void reserve(std::size_t n) { entries_.reserve(n); }
  // Gives back spare room when it exceeds an eighth of the entries (the entries move while it
  // does, so a little spare room is cheaper to keep).
  void trim() {
    if (entries_.capacity() - entries_.size() > entries_.size() / 8) entries_.shrink_to_fit();
  }
  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.end(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  // The first entry whose key is not below `key`.
  const_iterator lower_bound(const K& key) const { return std::lower_bound(begin(), end(), key, KeyLess{}); }
  iterator lower_bound(const K& key) { return std::lower_bound(begin(), end(), key, KeyLess{}); }
  // lower_bound, searching only from `from` on. REQUIRES: no entry before `from` has a key
  // `key` or above. Gallops, so a walk over m ascending keys costs O(m log(n/m)), not O(m log n).
  iterator lower_bound_from(iterator from, const K& key) { return gallop(from, end(), key); }
  const_iterator lower_bound_from(const_iterator from, const K& key) const { return gallop(from, end(), key); }

  const_iterator find(const K& key) const {
    auto it = lower_bound(key);
    return it != entries_.end() && it->first == key ? it : entries_.end();
  }
  iterator find(const K& key) {
    auto it = lower_bound(key);
    return it != entries_.end() && it->first == key ? it : entries_.end();
  }
  bool contains(const K& key) const { return find(key) != entries_.end(); }
  const V& at(const K& key) const {
    auto it = find(key);
    if (it == entries_.end()) throw std::out_of_range("FlatMap::at");
    return it->second;
  }
  // The value of `key`, added as V() when absent.
  V& operator[](const K& key) { return try_emplace(key, V()).first->second; }

  // Adds the entry unless the key is held; the entry and whether it was added.
  std::pair<iterator, bool> try_emplace(const K& key, V value) {
    auto it = lower_bound(key);
    if (it != entries_.end() && it->first == key) return {it, false};
    return {entries_.insert(it, value_type(key, std::move(value))), true};
  }
  // Sets the value of `key`, adding the entry when absent; the entry and whether it was added.
  std::pair<iterator, bool> insert_or_assign(const K& key, V value) {
    auto it = lower_bound(key);
    if (it != entries_.end() && it->first == key) {
      it->second = std::move(value);
      return {it, false};
    }
    return {entries_.insert(it, value_type(key, std::move(value))), true};
  }
  // Appends an entry. REQUIRES: `key` is greater than every key held.
  void push_back(K key, V value) { entries_.emplace_back(std::move(key), std::move(value)); }
  // Removes the entry of `key`; how many were removed (0 or 1).
  std::size_t erase(const K& key) {
    auto it = find(key);
    if (it == entries_.end()) return 0;
    entries_.erase(it);
    return 1;
  }
  // Removes the entries `drop` holds true of, in place, keeping the order of the rest. `drop` is
  // asked once of each entry, in key order (so it may walk another sorted map alongside).
  template <class Pred>
  void erase_if(Pred drop) {
    auto kept = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (drop(it->first, it->second)) continue;
      if (kept != it) *kept = std::move(*it);
      ++kept;
    }
    entries_.erase(kept, entries_.end());
  }

  // Adds entries for keys not held, in one merge: linear in the entries held and added.
  // REQUIRES: `added` is in ascending key order, each key once, none of them held.
  void insert_absent(std::vector<value_type>&& added) {
    if (added.empty()) return;
    if (entries_.empty()) {
      entries_ = std::move(added);
      return;
    }
    const std::size_t held = entries_.size();
    // Growth by an eighth, as trim() leaves it, rather than doubling for a few new keys.
    if (entries_.capacity() < held + added.size()) entries_.reserve(held + added.size() + held / 8);
    entries_.insert(entries_.end(), std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
    std::inplace_merge(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(held), entries_.end(),
                       EntryLess{});
  }

  // Inserts every entry of `batch` as if one at a time in batch order, `fold(held, incoming)`
  // settling each key already held (by the map, or by an earlier entry of the batch). The batch
  // is sorted once (stably, so equal keys fold in batch order) and merged in: n entries cost
  // O(n log n), not the O(n^2) of inserting each.
  template <class Fold>
  void insert_batch(std::vector<value_type>&& batch, Fold fold) {
    sort_stably(batch);
    // The new keys are gathered at the front of the batch, in order, each once.
    auto kept = batch.begin();
    auto held = entries_.begin();
    for (auto in = batch.begin(); in != batch.end(); ++in) {
      if (kept != batch.begin() && (kept - 1)->first == in->first) {
        fold((kept - 1)->second, std::move(in->second));
        continue;
      }
      held = lower_bound_from(held, in->first);
      if (held != entries_.end() && held->first == in->first) {
        fold(held->second, std::move(in->second));
        continue;
      }
      if (kept != in) *kept = std::move(*in);
      ++kept;
    }
    batch.erase(kept, batch.end());
    insert_absent(std::move(batch));
  }

  friend bool operator==(const FlatMap&, const FlatMap&) = default;

 private:
  // Sorts `batch` by key, equal keys kept in batch order. A batch made of a few ascending runs
  // (entries read in an order of their own, say grouped by kind) has its runs merged pairwise,
  // in O(n log runs); one of many short runs is merge-sorted whole.
  static void sort_stably(std::vector<value_type>& batch) {
    constexpr std::size_t kMaxRuns = 64;
    std::vector<std::size_t> bounds = {0};  // where each run starts, then the end
    for (std::size_t i = 1; i < batch.size(); ++i) {
      if (!(batch[i].first < batch[i - 1].first)) continue;
      if (bounds.size() == kMaxRuns) {
        std::stable_sort(batch.begin(), batch.end(), EntryLess{});
        return;
      }
      bounds.push_back(i);
    }
    bounds.push_back(batch.size());
    auto at = [&batch](std::size_t i) { return batch.begin() + static_cast<std::ptrdiff_t>(i); };
    while (bounds.size() > 2) {
      std::vector<std::size_t> merged = {0};
      for (std::size_t i = 0; i + 2 < bounds.size(); i += 2) {
        std::inplace_merge(at(bounds[i]), at(bounds[i + 1]), at(bounds[i + 2]), EntryLess{});
        merged.push_back(bounds[i + 2]);
      }
      if (bounds.size() % 2 == 0) merged.push_back(bounds.back());  // an odd run out, carried over
      bounds = std::move(merged);
    }
  }

  template <class It>
  static It gallop(It from, It last, const K& key) {
    if (from == last || !(from->first < key)) return from;  // a walk in step with the map's keys
    std::size_t step = 1;
    auto low = from;
    while (static_cast<std::size_t>(last - low) > step && (low + step - 1)->first < key) {
      low += step;
      step *= 2;
    }
    return std::lower_bound(low, low + std::min<std::size_t>(step, last - low), key, KeyLess{});
  }

  struct KeyLess {
    bool operator()(const value_type& e, const K& k) const { return e.first < k; }
  };
  struct EntryLess {
    bool operator()(const value_type& a, const value_type& b) const { return a.first < b.first; }
  };

  std::vector<value_type> entries_;
};

}  // namespace ostrel::validate
