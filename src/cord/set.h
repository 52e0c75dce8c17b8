// Canonical sets: held in memory as a plain collection, written in ascending order of their
// elements' encodings with no two alike, and read back only when the bytes already stand in that
// order. Templates only; safe from any thread.
#pragma once

#include <algorithm>
#include <cstring>
#include <numeric>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cord/codec.h"
#include "cord/marker.h"
#include "platform/keyed_hash.h"

namespace ostrel::cord {

namespace detail {
// A hash that agrees with equality: the element's own std::hash when it has one, else the keyed
// hash of its encoding (equal values encode alike; a value that cannot be encoded hashes as 0).
template <class T>
std::size_t element_hash(const T& value);
}  // namespace detail

// A set of values. Its iteration order means nothing to the encoding; a set read from bytes
// holds its elements in the order they were read (ascending encoding).
template <class T>
class Set {
 public:
  Set() = default;
  explicit Set(std::vector<T> items) : items_(std::move(items)) {}

  // Adds `value` unless an equal element is already present; an index of element hashes, kept
  // up to date across inserts, makes each one constant-time on average.
  bool insert(T value) {
    for (; indexed_ < items_.size(); ++indexed_) index_.emplace(detail::element_hash(items_[indexed_]), indexed_);
    const std::size_t h = detail::element_hash(value);
    for (auto [it, last] = index_.equal_range(h); it != last; ++it) {
      if (items_[it->second] == value) return false;
    }
    index_.emplace(h, items_.size());
    items_.push_back(std::move(value));
    ++indexed_;
    return true;
  }

  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  const std::vector<T>& items() const { return items_; }
  // The elements to change at will: the insert index starts again from nothing.
  std::vector<T>& items() {
    index_.clear();
    indexed_ = 0;
    return items_;
  }

  // Equal when each holds the other's elements, in any order.
  friend bool operator==(const Set& a, const Set& b) {
    if (a.items_.size() != b.items_.size()) return false;
    std::unordered_multimap<std::size_t, std::size_t> in_b;
    in_b.reserve(b.items_.size());
    for (std::size_t i = 0; i < b.items_.size(); ++i) in_b.emplace(detail::element_hash(b.items_[i]), i);
    for (const T& e : a.items_) {
      auto [it, last] = in_b.equal_range(detail::element_hash(e));
      if (std::none_of(it, last, [&](const auto& entry) { return b.items_[entry.second] == e; })) return false;
    }
    return true;
  }

 private:
  std::vector<T> items_;
  std::unordered_multimap<std::size_t, std::size_t> index_;  // element hash -> position
  std::size_t indexed_ = 0;                                  // items_[0, indexed_) are in index_
};

// Byte order of encodings: the first differing byte decides, else the shorter comes first.
inline bool bytes_less(ByteView a, ByteView b) {
  const std::size_t n = std::min(a.size(), b.size());
  if (n != 0) {
    if (int c = std::memcmp(a.data(), b.data(), n); c != 0) return c < 0;
  }
  return a.size() < b.size();
}

template <class T>
std::size_t detail::element_hash(const T& value) {
  if constexpr (requires { std::hash<T>{}(value); }) {
    return std::hash<T>{}(value);
  } else {
    auto bytes = to_vec(value);
    return bytes ? platform::hash_bytes(*bytes) : 0;
  }
}

// Whether `a` comes before `b` in encoding order; a value that cannot be encoded counts as the
// empty byte string.
template <class T>
bool encoding_is_less(const T& a, const T& b) {
  auto ea = to_vec(a);
  auto eb = to_vec(b);
  const ByteView va = ea ? ByteView(*ea) : ByteView();
  const ByteView vb = eb ? ByteView(*eb) : ByteView();
  return bytes_less(va, vb);
}

// Appends the canonical set: count in the hint's class, then the elements sorted by encoding.
// An element that cannot be written, or two that write alike, fail as Serialization errors;
// nothing reaches `s` unless every element was written and checked.
namespace detail {
// Elements that keep their own canonical encoding (records) are ordered by it directly.
template <class T>
concept KeepsEncoding = requires(const T& t) {
  { t.encoding() } -> std::convertible_to<ByteView>;
};
}  // namespace detail

// The tail of serialize_set for elements already encoded into `scratch` at `ranges`: sorted by
// their bytes, a duplicate refused, the count and the elements appended.
inline Status serialize_encoded_set(Serializer& s, const Buffer& scratch,
                                    std::span<const std::pair<std::size_t, std::size_t>> ranges, WidthHint hint) {
  const std::size_t n = ranges.size();
  auto view = [&](std::size_t i) {
    return ByteView(scratch.data() + ranges[i].first, ranges[i].second - ranges[i].first);
  };
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  if (n >= 2) {
    // Equal encodings are refused below, so the order of ties never reaches the output.
    std::sort(order.begin(), order.end(),
                     [&](std::size_t i, std::size_t j) { return bytes_less(view(i), view(j)); });
    for (std::size_t k = 0; k + 1 < n; ++k) {
      const ByteView a = view(order[k]);
      const ByteView b = view(order[k + 1]);
      if (a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin()))
        return std::unexpected(Error::wrap_ser(Error::DuplicateElement));
    }
  }
  // "__cord_set" is an ordinary name: the count takes the pending hint.
  OSTREL_TRY(s.write_len(n, hint));
  // The encoding is deterministic, so the staged bytes are exactly a second write's bytes.
  for (std::size_t i : order) s.write_raw(view(i));
  return {};
}

// serialize_encoded_set, the same bytes and refusals, for elements whose encodings begin with a
// few distinct patterns (a length and a variant index, say) and come in ascending order within
// each: the elements are grouped stably by their first eight bytes, the groups taken in the order
// of those bytes, and each group is only checked (sorted when it is not ascending). Linear for
// such input, a sort by a number otherwise.
inline Status serialize_encoded_set_grouped(Serializer& s, const Buffer& scratch,
                                            std::span<const std::pair<std::size_t, std::size_t>> ranges,
                                            WidthHint hint) {
  const std::size_t n = ranges.size();
  auto view = [&](std::size_t i) {
    return ByteView(scratch.data() + ranges[i].first, ranges[i].second - ranges[i].first);
  };
  // The first eight bytes as a big-endian number, zeros past the end: a lower number means a
  // lower encoding, an equal one leaves the rest to decide.
  auto prefix = [&](std::size_t i) {
    const ByteView v = view(i);
    std::uint64_t p = 0;
    for (std::size_t k = 0; k < 8; ++k) p = (p << 8) | (k < v.size() ? v[k] : 0);
    return p;
  };
  std::vector<std::uint64_t> prefixes(n);
  std::vector<std::uint32_t> group_of(n);
  std::unordered_map<std::uint64_t, std::uint32_t> groups;  // prefix -> group, numbered as met
  std::vector<std::uint64_t> met;                           // group -> prefix
  for (std::size_t i = 0; i < n; ++i) {
    prefixes[i] = prefix(i);
    // Neighbours share a group often enough that the map is asked only on a change.
    if (i > 0 && prefixes[i] == prefixes[i - 1]) {
      group_of[i] = group_of[i - 1];
      continue;
    }
    auto [it, added] = groups.try_emplace(prefixes[i], static_cast<std::uint32_t>(met.size()));
    if (added) met.push_back(prefixes[i]);
    group_of[i] = it->second;
  }
  // Groups in prefix order, then a stable counting sort of the elements into them.
  std::vector<std::uint32_t> by_prefix(met.size());
  std::iota(by_prefix.begin(), by_prefix.end(), std::uint32_t{0});
  std::sort(by_prefix.begin(), by_prefix.end(), [&](std::uint32_t a, std::uint32_t b) { return met[a] < met[b]; });
  std::vector<std::size_t> start(met.size() + 1, 0);  // by group number: where its elements go
  for (std::uint32_t g : group_of) ++start[g + 1];
  {
    std::vector<std::size_t> sizes(start.begin() + 1, start.end());
    std::size_t at = 0;
    for (std::uint32_t g : by_prefix) {
      start[g] = at;
      at += sizes[g];
    }
  }
  std::vector<std::size_t> bounds;  // where each group begins in `order`, in prefix order
  bounds.reserve(met.size() + 1);
  for (std::uint32_t g : by_prefix) bounds.push_back(start[g]);
  bounds.push_back(n);
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[start[group_of[i]]++] = i;

  auto less = [&](std::size_t i, std::size_t j) { return bytes_less(view(i), view(j)); };
  for (std::size_t g = 0; g + 1 < bounds.size(); ++g) {
    const auto first = order.begin() + static_cast<std::ptrdiff_t>(bounds[g]);
    const auto last = order.begin() + static_cast<std::ptrdiff_t>(bounds[g + 1]);
    // Strictly ascending rules out duplicates too; groups differ in their prefixes, so no two
    // elements of different groups are alike.
    auto not_ascending = [&](std::size_t i, std::size_t j) { return !less(i, j); };
    if (std::adjacent_find(first, last, not_ascending) == last) continue;
    std::sort(first, last, less);
    if (std::adjacent_find(first, last, not_ascending) != last)
      return std::unexpected(Error::wrap_ser(Error::DuplicateElement));
  }
  OSTREL_TRY(s.write_len(n, hint));
  for (std::size_t i : order) s.write_raw(view(i));
  return {};
}

template <class T>
Status serialize_set(Serializer& s, const std::vector<T>& elements, WidthHint hint) {
  const std::size_t n = elements.size();
  if constexpr (detail::KeepsEncoding<T>) {
    const bool all_kept = std::all_of(elements.begin(), elements.end(), [](const T& e) { return !e.encoding().empty(); });
    if (all_kept) {
      std::vector<ByteView> views;
      views.reserve(n);
      std::size_t total = 0;
      for (const T& e : elements) {
        views.push_back(e.encoding());
        total += views.back().size();
      }
      // A set kept in its written order (records read from a file) needs no sorting: one pass
      // finds it strictly ascending, which also rules out duplicates.
      const bool ascending = std::adjacent_find(views.begin(), views.end(), [](ByteView a, ByteView b) {
                               return !bytes_less(a, b);
                             }) == views.end();
      if (!ascending) {
        std::sort(views.begin(), views.end(), bytes_less);
        for (std::size_t k = 0; k + 1 < n; ++k) {
          if (std::equal(views[k].begin(), views[k].end(), views[k + 1].begin(), views[k + 1].end()))
            return std::unexpected(Error::wrap_ser(Error::DuplicateElement));
        }
      }
      OSTREL_TRY(s.write_len(n, hint));
      s.out().reserve(s.out().size() + total);
      for (const ByteView& v : views) s.write_raw(v);
      return {};
    }
  }
  Buffer scratch;
  scratch.reserve(16 * n);
  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  ranges.reserve(n);
  {
    Serializer es(scratch);
    for (const T& e : elements) {
      const std::size_t start = scratch.size();
      if (auto r = cord::encode(es, e); !r) return std::unexpected(Error::wrap_ser(r.error()));
      ranges.emplace_back(start, scratch.size());
    }
  }
  return serialize_encoded_set(s, scratch, ranges, hint);
}



// Reads a canonical set under the wrapper `name`. An element that fails to decode fails the set
// with its own error; one whose encoding is not strictly greater than its predecessor's fails
// with "Duplicate element in set" as a Deserialization error.
//
// The order check compares the bytes each element consumed. Decoding is strict (NFC only,
// ordered sets, exact tags, exact payloads), so those bytes are exactly what the writer would
// produce for the decoded element; comparing them is comparing re-encodings, without encoding.
template <class T>
Status deserialize_set(Deserializer& d, WidthHint hint, std::string_view name, std::vector<T>& out) {
  // No set is read under an evolving or uuid name: their bytes are taken, then refused.
  const Marker m = marker_of(name);
  OSTREL_TRY(read_marker(d, m, hint));
  if (m.kind == Marker::Evolving) return std::unexpected(Error::invalid_type("byte array", "set"));
  if (m.kind == Marker::Uuid) return std::unexpected(uuid_not_bytes());
  OSTREL_TRY(d.enter());
  OSTREL_TRY_ASSIGN(auto n, d.read_len(hint));
  out.clear();
  ByteView prev;
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint8_t* start = d.position();
    T element{};
    OSTREL_TRY(cord::decode(d, element));
    const ByteView cur(start, static_cast<std::size_t>(d.position() - start));
    if (i > 0 && !bytes_less(prev, cur))
      return std::unexpected(Error::wrap_de(Error::DuplicateElement));
    out.push_back(std::move(element));
    prev = cur;
  }
  d.leave();
  return {};
}

template <class T>
struct Codec<Set<T>> {
  static Status encode(Serializer& s, const Set<T>& v, WidthHint hint) {
    return serialize_set(s, v.items(), hint);
  }
  static Status decode(Deserializer& d, Set<T>& out, WidthHint hint) {
    return deserialize_set(d, hint, marker::kSet, out.items());
  }
};

// A versioned store value whose variant 0 holds a canonical set: 00 00 00 00, then the set.
template <class T>
Result<Buffer> to_vec_versioned(const Set<T>& set) {
  Buffer out;
  out.reserve(64);
  Serializer s(out);
  s.write_u32(0);
  OSTREL_TRY(serialize_set(s, set.items(), WidthHint::None));
  return out;
}

}  // namespace ostrel::cord
