// HashSet: a set of HashValues held flat, for lookups by the thousand without a node per value.
// The values stand in one vector in the order they were added; an open-addressing table of
// positions into it, probed linearly, finds them. Slots are placed by the keyed hash
// (platform::hash_bytes): the values may come from a file someone else wrote, and a keyed hash
// keeps them from being chosen to pile up in one run of slots. A value; not synchronised.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <utility>
#include <vector>

#include "ids/identifiers.h"
#include "platform/keyed_hash.h"

namespace ostrel::validate {

class HashSet {
 public:
  HashSet() = default;
  // The distinct values of `values`, the first of equal ones kept, in their order.
  explicit HashSet(std::vector<HashValue> values) : values_(std::move(values)) {
    index_all(slots_for(values_.size()));
  }
  HashSet(std::initializer_list<HashValue> values) : HashSet(std::vector<HashValue>(values)) {}

  std::size_t size() const { return values_.size(); }
  bool empty() const { return values_.empty(); }
  // Room for `n` values in all without a new table.
  void reserve(std::size_t n) {
    values_.reserve(n);
    if (slots_for(n) > slots_.size()) rebuild(slots_for(n));
  }
  // In the order the values were added.
  auto begin() const { return values_.begin(); }
  auto end() const { return values_.end(); }

  bool contains(const HashValue& value) const {
    if (values_.empty()) return false;
    const std::size_t h = platform::hash_bytes(value.bytes);
    for (std::size_t i = h & mask();; i = (i + 1) & mask()) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) return false;
      if (tag_of(slot) == tag_of_hash(h) && values_[position_of(slot)] == value) return true;
    }
  }

  // Adds `value` unless an equal one is held; whether it was added.
  bool insert(const HashValue& value) {
    if (slots_for(values_.size() + 1) > slots_.size()) rebuild(slots_for(values_.size() + 1));
    const std::size_t h = platform::hash_bytes(value.bytes);
    std::size_t i = h & mask();
    for (; slots_[i] != 0; i = (i + 1) & mask()) {
      if (tag_of(slots_[i]) == tag_of_hash(h) && values_[position_of(slots_[i])] == value) return false;
    }
    slots_[i] = make_slot(h, values_.size());
    values_.push_back(value);
    return true;
  }

 private:
  // A slot: the hash's upper half (to skip most unequal values without reading them) above the
  // value's position plus one; 0 is an empty slot.
  static std::uint32_t tag_of_hash(std::size_t h) { return static_cast<std::uint32_t>(std::uint64_t{h} >> 32); }
  static std::uint32_t tag_of(std::uint64_t slot) { return static_cast<std::uint32_t>(slot >> 32); }
  static std::size_t position_of(std::uint64_t slot) { return static_cast<std::uint32_t>(slot) - std::size_t{1}; }
  static std::uint64_t make_slot(std::size_t h, std::size_t position) {
    if (position >= 0xffff'ffffu) throw std::length_error("HashSet: too many values");
    return (std::uint64_t{tag_of_hash(h)} << 32) | (position + 1);
  }
  // A power of two at least twice `n`: at most half the slots are used, so runs stay short.
  static std::size_t slots_for(std::size_t n) { return n == 0 ? 0 : std::bit_ceil(std::max<std::size_t>(16, 2 * n)); }
  std::size_t mask() const { return slots_.size() - 1; }

  // A table of `count` slots indexing every value held (each distinct already).
  void rebuild(std::size_t count) {
    slots_.assign(count, 0);
    for (std::size_t p = 0; p < values_.size(); ++p) {
      const std::size_t h = platform::hash_bytes(values_[p].bytes);
      std::size_t i = h & mask();
      while (slots_[i] != 0) i = (i + 1) & mask();
      slots_[i] = make_slot(h, p);
    }
  }
  // A table of `count` slots over `values_`, dropping each value equal to an earlier one.
  void index_all(std::size_t count) {
    slots_.assign(count, 0);
    std::size_t kept = 0;
    for (std::size_t p = 0; p < values_.size(); ++p) {
      const std::size_t h = platform::hash_bytes(values_[p].bytes);
      std::size_t i = h & mask();
      bool held = false;
      for (; slots_[i] != 0; i = (i + 1) & mask()) {
        if (tag_of(slots_[i]) == tag_of_hash(h) && values_[position_of(slots_[i])] == values_[p]) {
          held = true;
          break;
        }
      }
      if (held) continue;
      if (kept != p) values_[kept] = std::move(values_[p]);
      slots_[i] = make_slot(h, kept++);
    }
    values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(kept), values_.end());
  }

  std::vector<HashValue> values_;
  std::vector<std::uint64_t> slots_;  // empty when no value was ever added or reserved for
};

}  // namespace ostrel::validate
