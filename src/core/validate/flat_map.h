// FlatMap: a map held as one vector of entries sorted by key. A map built once in key order (a
// derived view of every entity) costs only its entries, with no node per entry, and is searched
// by bisection. An insert out of order shifts the entries after it, so maps grown at random keep
// std::map. A value; not synchronised.
#pragma once

#include <algorithm>
#include <initializer_list>
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

  // Adds the entry unless the key is held; the entry and whether it was added.
  std::pair<iterator, bool> try_emplace(const K& key, V value) {
    auto it = lower_bound(key);
    if (it != entries_.end() && it->first == key) return {it, false};
    return {entries_.insert(it, value_type(key, std::move(value))), true};
  }
  // Appends an entry. REQUIRES: `key` is greater than every key held.
  void push_back(K key, V value) { entries_.emplace_back(std::move(key), std::move(value)); }
  // Removes the entries `drop` holds true of, in place, keeping the order of the rest.
  template <class Pred>
  void erase_if(Pred drop) {
    std::erase_if(entries_, [&](const value_type& e) { return drop(e.first, e.second); });
  }

  friend bool operator==(const FlatMap&, const FlatMap&) = default;

 private:
  const_iterator lower_bound(const K& key) const {
    return std::lower_bound(entries_.begin(), entries_.end(), key,
                            [](const value_type& e, const K& k) { return e.first < k; });
  }
  iterator lower_bound(const K& key) {
    return std::lower_bound(entries_.begin(), entries_.end(), key,
                            [](const value_type& e, const K& k) { return e.first < k; });
  }

  std::vector<value_type> entries_;
};

}  // namespace ostrel::validate
