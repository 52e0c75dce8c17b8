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
    return holds_from(h & mask(), h, value);
  }

  // Whether each of `n` values is held: element i for value_at(i), 1 when held, else 0. The
  // values are looked up a batch at a time, each step for the whole batch before the next, so
  // that the table's and the values' memory is read for many lookups at once rather than one
  // cache miss after another.
  template <class ValueAt>
  std::vector<std::uint8_t> contains_each(std::size_t n, ValueAt value_at) const {
    std::vector<std::uint8_t> out(n, 0);
    if (values_.empty()) return out;
    constexpr std::size_t kBatch = 16;
    std::size_t hashes[kBatch];
    std::size_t slots[kBatch];
    for (std::size_t first = 0; first < n; first += kBatch) {
      const std::size_t count = std::min(kBatch, n - first);
      for (std::size_t k = 0; k < count; ++k) {
        hashes[k] = platform::hash_bytes(static_cast<const HashValue&>(value_at(first + k)).bytes);
        __builtin_prefetch(&slots_[hashes[k] & mask()]);
      }
      // The first slot that is empty or carries the value's tag, and that slot's value.
      for (std::size_t k = 0; k < count; ++k) {
        std::size_t i = hashes[k] & mask();
        while (slots_[i] != 0 && tag_of(slots_[i]) != tag_of_hash(hashes[k])) i = (i + 1) & mask();
        if (slots_[i] != 0) __builtin_prefetch(&values_[position_of(slots_[i])]);
        slots[k] = i;
      }
      for (std::size_t k = 0; k < count; ++k) out[first + k] = holds_from(slots[k], hashes[k], value_at(first + k));
    }
    return out;
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

  // Whether `value` (of hash `h`) is in the run of slots from `i` on. REQUIRES: no slot between
  // h's home slot and `i` holds it.
  bool holds_from(std::size_t i, std::size_t h, const HashValue& value) const {
    for (;; i = (i + 1) & mask()) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) return false;
      if (tag_of(slot) == tag_of_hash(h) && values_[position_of(slot)] == value) return true;
    }
  }

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
  // A table of `count` slots over `values_`, dropping each value equal to an earlier one. The
  // hashes of a batch are taken, and their slots fetched, before any of them is placed.
  void index_all(std::size_t count) {
    slots_.assign(count, 0);
    constexpr std::size_t kBatch = 16;
    std::size_t hashes[kBatch];
    std::size_t kept = 0;
    for (std::size_t first = 0; first < values_.size(); first += kBatch) {
      const std::size_t batch = std::min(kBatch, values_.size() - first);
      for (std::size_t k = 0; k < batch; ++k) {
        hashes[k] = platform::hash_bytes(values_[first + k].bytes);
        __builtin_prefetch(&slots_[hashes[k] & mask()], 1);
      }
      for (std::size_t k = 0; k < batch; ++k) {
        const std::size_t p = first + k;
        const std::size_t h = hashes[k];
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
    }
    values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(kept), values_.end());
  }

  std::vector<HashValue> values_;
  std::vector<std::uint64_t> slots_;  // empty when no value was ever added or reserved for
};

}  // namespace ostrel::validate
