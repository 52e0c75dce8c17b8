#include "core/validate/ratchet_state.h"

#include <algorithm>
#include <limits>
#include <set>

#include "cord/set.h"
#include "cord/text.h"
#include "core/validate/ratchet_state_internal.h"
#include "errors/try.h"

namespace ostrel::validate {
namespace {

using Key = std::optional<EntityKey>;
using Binding = std::optional<EntityBinding>;
using Record = std::optional<core::RatchetRecordV1>;

struct KeyOf {
  Key operator()(const core::UserRatchetRecordV1& x) const { return core::entity::User{x.user_id}; }
  Key operator()(const core::UserHandleRatchetRecordV1& x) const { return core::entity::UserHandle{x.handle_id}; }
  Key operator()(const core::VaultHandleRatchetRecordV1& x) const { return core::entity::VaultHandle{x.handle_id}; }
  Key operator()(const core::GroupRatchetRecordV1& x) const { return core::entity::Group{x.group_id}; }
  Key operator()(const core::GroupMemberRatchetRecordV1& x) const {
    return core::entity::GroupMember{x.group_member_id};
  }
  Key operator()(const core::GrantRatchetRecordV1& x) const { return core::entity::Grant{x.grant_id}; }
  Key operator()(const core::SecretRatchetRecordV1& x) const { return core::entity::Secret{x.secret_id}; }
  Key operator()(const core::EntryPointRatchetRecordV1& x) const { return core::entity::EntryPoint{x.user_id}; }
  Key operator()(std::uint64_t) const { return std::nullopt; }
  Key operator()(const core::TrustedRootRatchetRecordV1&) const { return std::nullopt; }
};

// Empty fields are how a record says it remembers no binding.
struct BindingOf {
  Binding operator()(const core::UserHandleRatchetRecordV1& x) const {
    if (x.handle.empty()) return std::nullopt;
    return binding::UserHandle{x.handle};
  }
  Binding operator()(const core::VaultHandleRatchetRecordV1& x) const {
    if (x.handle.empty()) return std::nullopt;
    return binding::VaultHandle{x.handle};
  }
  Binding operator()(const core::GroupMemberRatchetRecordV1& x) const {
    if (!x.input) return std::nullopt;
    return EntityBinding(*x.input);
  }
  Binding operator()(const core::SecretRatchetRecordV1& x) const {
    if (x.selector.tuple.empty()) return std::nullopt;
    return EntityBinding(x.selector);
  }
  Binding operator()(const auto&) const { return std::nullopt; }
};

struct RecordOf {
  std::uint64_t counter;
  const EntityBinding* binding;

  // Whether the binding is of `kind`; a binding of another kind is written as "no binding".
  bool bound(EntityBinding::Kind kind) const { return binding != nullptr && binding->kind() == kind; }

  Record operator()(const core::entity::VaultRoot&) const { return std::nullopt; }
  Record operator()(const core::entity::EntryPoint& k) const {
    return core::EntryPointRatchetRecordV1{k.user_id, counter};
  }
  Record operator()(const core::entity::User& k) const { return core::UserRatchetRecordV1{k.user_id, counter}; }
  Record operator()(const core::entity::UserHandle& k) const {
    return core::UserHandleRatchetRecordV1{
        k.handle_id, counter, bound(EntityBinding::UserHandle) ? std::string(binding->handle()) : std::string()};
  }
  Record operator()(const core::entity::Group& k) const { return core::GroupRatchetRecordV1{k.group_id, counter}; }
  Record operator()(const core::entity::GroupMember& k) const {
    return core::GroupMemberRatchetRecordV1{
        k.group_member_id, counter,
        bound(EntityBinding::GroupMember) ? std::optional(binding->member_input()) : std::nullopt};
  }
  Record operator()(const core::entity::Grant& k) const { return core::GrantRatchetRecordV1{k.grant_id, counter}; }
  Record operator()(const core::entity::Secret& k) const {
    return core::SecretRatchetRecordV1{k.secret_id, counter,
                                       bound(EntityBinding::Secret) ? binding->selector() : core::SecretSelectorV1{}};
  }
  Record operator()(const core::entity::VaultHandle& k) const {
    return core::VaultHandleRatchetRecordV1{
        k.handle_id, counter, bound(EntityBinding::VaultHandle) ? std::string(binding->handle()) : std::string()};
  }
};


}  // namespace

std::uint64_t counter_of(const core::RatchetRecordV1& record) {
  return std::visit(
      [](const auto& x) -> std::uint64_t {
        if constexpr (requires { x.counter; }) {
          return x.counter;
        } else {
          return 0;
        }
      },
      record.variant());
}

std::optional<EntityKey> ratchet_record_key(const core::RatchetRecordV1& record) {
  return std::visit(KeyOf{}, record.variant());
}

std::optional<EntityBinding> ratchet_record_binding(const core::RatchetRecordV1& record) {
  return std::visit(BindingOf{}, record.variant());
}

std::optional<core::RatchetRecordV1> ratchet_record_from_counter(const EntityKey& key, std::uint64_t counter,
                                                                 const EntityBinding* binding) {
  return std::visit(RecordOf{counter, binding}, key.variant());
}

RatchetState RatchetState::fresh(HashValue root) {
  RatchetState s;
  s.trusted_root = std::move(root);
  return s;
}

RatchetState RatchetState::from_baseline(const HashValue& root, std::span<const core::RatchetRecordV1> baseline) {
  RatchetState s = fresh(root);
  PutBy later;
  for (const core::RatchetRecordV1& record : baseline) s.apply_later(record, later);
  s.fold_in(std::move(later));
  return s;
}

cord::Result<RatchetState> RatchetState::from_store(std::span<const core::RatchetElement> entries) {
  RatchetStateLoader loader;
  for (const core::RatchetElement& entry : entries) loader.add(entry);
  return std::move(loader).finish();
}

namespace {

// The first eight bytes of a secret id as a big-endian number (zeros past its end): prefixes are
// ordered as their ids are, so ids met in ascending order are searched for in ascending order.
std::uint64_t id_prefix(const SecretId& id) {
  const IdBytes& bytes = id.value.bytes;
  std::uint64_t prefix = 0;
  for (std::size_t i = 0; i < sizeof prefix; ++i) prefix = (prefix << 8) | (i < bytes.size() ? bytes[i] : 0);
  return prefix;
}

// The first position in [from, end) not less than `value`, found by steps that double from `from`:
// cheap when it lies near. REQUIRES: every element before `from` is less than `value`.
template <class It, class T, class Less>
It lower_bound_from(It from, It end, const T& value, Less less) {
  std::size_t step = 1;
  while (static_cast<std::size_t>(end - from) > step && less(*(from + (step - 1)), value)) {
    from += step;
    step *= 2;
  }
  return std::lower_bound(from, from + std::min<std::size_t>(step, end - from), value, less);
}

// Sorts `items` stably. What is read from a file comes in a few ascending runs (one per kind and
// payload length), which are merged pairwise, in O(n log runs); many runs are sorted whole.
template <class T, class Less>
void sort_runs(std::vector<T>& items, Less less) {
  constexpr std::size_t kMaxRuns = 64;
  std::vector<std::size_t> bounds = {0};  // where each run starts, then the end
  for (std::size_t i = 1; i < items.size() && bounds.size() <= kMaxRuns; ++i) {
    if (less(items[i], items[i - 1])) bounds.push_back(i);
  }
  if (bounds.size() > kMaxRuns) {
    std::stable_sort(items.begin(), items.end(), less);
    return;
  }
  bounds.push_back(items.size());
  auto at = [&items](std::size_t i) { return items.begin() + static_cast<std::ptrdiff_t>(i); };
  while (bounds.size() > 2) {
    std::vector<std::size_t> merged = {0};
    for (std::size_t i = 0; i + 2 < bounds.size(); i += 2) {
      std::inplace_merge(at(bounds[i]), at(bounds[i + 1]), at(bounds[i + 2]), less);
      merged.push_back(bounds[i + 2]);
    }
    if (bounds.size() % 2 == 0) merged.push_back(bounds.back());  // an odd run out, carried over
    bounds = std::move(merged);
  }
}

}  // namespace

RatchetStateLoader::RatchetStateLoader(std::span<const core::VaultRecordV1> records) : records_(records) {
  for (std::size_t i = 0; i < records.size(); ++i) {
    const core::RecordBodyV1* body = records[i].known_body();
    if (body == nullptr) continue;
    if (const SecretId* id = body->secret_id()) secrets_.emplace_back(id_prefix(*id), i);
  }
  // A vault file lists its secret records in a few runs of ascending id, merged here.
  sort_runs(secrets_, std::less<>());
}

std::optional<EntityBinding> RatchetStateLoader::stated_binding(const core::RatchetRecordV1& record) {
  const auto* secret = std::get_if<core::SecretRatchetRecordV1>(&record.variant());
  if (secret == nullptr || secret->selector.tuple.empty() || secrets_.empty()) return std::nullopt;
  const std::uint64_t prefix = id_prefix(secret->secret_id);
  // A file lists its secrets in runs of ascending id, so the search goes on from where the last
  // one ended; only a prefix below the last one searches the part before again.
  const std::pair<std::uint64_t, std::size_t> first(prefix, 0);
  const auto searched = secrets_.begin() + static_cast<std::ptrdiff_t>(searched_);
  auto it = prefix < last_prefix_ ? std::lower_bound(secrets_.begin(), searched, first)
                                  : lower_bound_from(searched, secrets_.end(), first, std::less<>());
  // Every entry before `searched_` has a prefix below `last_prefix_`.
  last_prefix_ = prefix;
  searched_ = static_cast<std::size_t>(it - secrets_.begin());
  for (; it != secrets_.end() && it->first == prefix; ++it) {
    const core::VaultRecordV1& held = records_[it->second];
    const core::RecordBodyV1& body = *held.known_body();
    if (*body.secret_selector() == secret->selector) return EntityBinding::of_body(held, body);
  }
  return std::nullopt;
}

void RatchetStateLoader::add(const core::RatchetElement& entry) {
  const core::RatchetRecordV1* record = entry.known();
  if (record == nullptr) {
    state_.raw_records.push_back(entry.raw_payload().to_vector());
  } else if (const auto* t = std::get_if<core::TrustedRootRatchetRecordV1>(&record->variant())) {
    if (roots_++ == 0) state_.trusted_root = t->root;
  } else {
    state_.apply_later(*record, later_, stated_binding(*record));
  }
}

cord::Result<RatchetState> RatchetStateLoader::finish() && {
  // Which of several roots would win depends on nothing we control; such a file is refused.
  if (roots_ > 1) return std::unexpected(cord::Error::validation("ratchet file has several trusted-root records"));
  if (roots_ == 0) return std::unexpected(cord::Error::validation("ratchet file missing its trusted-root record"));
  secrets_ = {};  // searched only while entries come
  records_ = {};
  // A file orders its entries by their encoding, which is not key order (the record kinds are
  // numbered unlike the entity kinds, and a payload's length comes before its id), so the
  // entries are sorted once here.
  state_.fold_in(std::move(later_));
  state_.counters.trim();
  state_.bindings.trim();
  return std::move(state_);
}

void RatchetState::apply_record(const core::RatchetRecordV1& record) {
  PutBy later;
  apply_later(record, later);
  fold_in(std::move(later));
}

void RatchetState::apply_later(const core::RatchetRecordV1& record, PutBy& later, std::optional<EntityBinding> stated) {
  if (const auto* v = std::get_if<std::uint64_t>(&record.variant())) {
    format_version = std::max(format_version, *v);
    return;
  }
  std::optional<EntityKey> key = ratchet_record_key(record);
  if (!key) return;  // TrustedRoot: the root is fixed when the state is made
  std::optional<EntityBinding> b = stated ? std::move(stated) : ratchet_record_binding(record);
  if (b) later.bindings.emplace_back(*key, std::move(*b));
  later.counters.emplace_back(std::move(*key), counter_of(record));
}

namespace {

// Put-by entries in key order, one per key: the entries of a key folded into the first met, in the
// order met. The order is found on (leading part of the key, position) pairs, cheap to compare and
// to move, and each entry then moves once.
template <class V, class Fold>
std::vector<std::pair<EntityKey, V>> sorted_and_folded(std::vector<std::pair<EntityKey, V>> batch, Fold fold) {
  if (batch.size() < 2) return batch;
  // Eight bytes a pair: the kind and the id's first three bytes (ties are settled by the whole
  // keys, and ids spread evenly), and a position (fold_batch sends no larger batch here).
  struct At {
    std::uint32_t prefix;
    std::uint32_t position;
  };
  std::vector<At> order;
  order.reserve(batch.size());
  for (std::size_t i = 0; i < batch.size(); ++i) {
    const auto prefix = static_cast<std::uint32_t>(batch[i].first.order_prefix() >> 32);
    order.push_back({prefix, static_cast<std::uint32_t>(i)});
  }
  auto less = [&batch](const At& a, const At& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    return batch[a.position].first < batch[b.position].first;
  };
  sort_runs(order, less);
  // Taken in that order into a new batch: read where they lie, written one after another. The
  // old batch goes when this returns.
  std::vector<std::pair<EntityKey, V>> sorted;
  sorted.reserve(batch.size());
  std::uint32_t last_prefix = 0;
  for (const At& a : order) {
    auto& entry = batch[a.position];
    // Equal keys have equal leading parts; only those are compared in full.
    if (!sorted.empty() && a.prefix == last_prefix && sorted.back().first == entry.first) {
      fold(sorted.back().second, std::move(entry.second));
    } else {
      sorted.push_back(std::move(entry));
      last_prefix = a.prefix;
    }
  }
  return sorted;
}

// Folds `batch` into `map` as FlatMap::insert_batch does, the batch sorted and its keys folded
// first. REQUIRES: folding a key's entries together and then into the held value gives what
// folding each into it in turn gives (true of a maximum and of keeping the first).
template <class V, class Fold>
void fold_batch(FlatMap<EntityKey, V>& map, std::vector<std::pair<EntityKey, V>>&& batch, Fold fold) {
  if (batch.size() > std::numeric_limits<std::uint32_t>::max()) {
    map.insert_batch(std::move(batch), fold);  // beyond what positions of 32 bits can name
    return;
  }
  std::vector<std::pair<EntityKey, V>> sorted = sorted_and_folded(std::move(batch), fold);
  if (map.empty()) {
    map.insert_absent(std::move(sorted));  // taken whole: nothing to merge with
  } else {
    map.insert_batch(std::move(sorted), fold);
  }
}

}  // namespace

void RatchetState::fold_in(PutBy&& later) {
  // A counter is the highest met (none counts as lower); the first binding met is kept, ours
  // before any put by. A disagreeing binding is dropped: the remembered one is what the id was
  // derived from.
  fold_batch(counters, std::move(later.counters),
             [](std::uint64_t& held, std::uint64_t met) { held = std::max(held, met); });
  fold_batch(bindings, std::move(later.bindings), [](EntityBinding&, EntityBinding&&) {});
}

void RatchetState::advance(const RatchetView& view) { (void)advance_noting(view); }

namespace {

// How many keys of `view` (ascending) `held` lacks; one forward walk.
template <class Held, class View>
std::size_t count_absent(Held& held, const View& view) {
  std::size_t n = 0;
  auto at = held.begin();
  for (const auto& entry : view) {
    at = held.lower_bound_from(at, entry.first);
    if (at == held.end() || at->first != entry.first) ++n;
  }
  return n;
}

}  // namespace

RatchetState::Advance RatchetState::advance_noting(const RatchetView& view) {
  Advance changes;
  changes.format_version = format_version;
  // New keys are gathered, in key order, and merged in at once; counted first, so that the maps
  // grow by exactly what they gain.
  std::vector<std::pair<EntityKey, std::uint64_t>> new_counters;
  new_counters.reserve(count_absent(counters, view.counters));
  auto held = counters.begin();
  for (const auto& [key, counter] : view.counters) {
    held = counters.lower_bound_from(held, key);
    if (held == counters.end() || held->first != key) {
      changes.counters.emplace_back(key, std::nullopt);
      new_counters.emplace_back(key, counter);
    } else if (counter > held->second) {
      changes.counters.emplace_back(key, held->second);
      held->second = counter;
    }
  }
  counters.insert_absent(std::move(new_counters));

  std::vector<std::pair<EntityKey, EntityBinding>> new_bindings;
  new_bindings.reserve(count_absent(bindings, view.bindings));
  auto bound = bindings.begin();
  for (const auto& [key, b] : view.bindings) {
    bound = bindings.lower_bound_from(bound, key);
    if (bound == bindings.end() || bound->first != key) {
      changes.bindings.push_back(key);
      new_bindings.emplace_back(key, b);
    }
  }
  bindings.insert_absent(std::move(new_bindings));
  if (view.format_version) format_version = std::max(format_version, *view.format_version);
  return changes;
}

void RatchetState::take_back(Advance&& changes) {
  // Keys added are removed in one pass over each map (the lists are in key order, searched by
  // bisection), not one shift of the entries per key.
  if (!changes.bindings.empty()) {
    bindings.erase_if([&](const EntityKey& key, const EntityBinding&) {
      return std::binary_search(changes.bindings.begin(), changes.bindings.end(), key);
    });
  }
  std::vector<EntityKey> added;
  for (auto& [key, was] : changes.counters) {
    if (was) {
      counters[key] = *was;
    } else {
      added.push_back(std::move(key));
    }
  }
  if (!added.empty()) {
    counters.erase_if([&](const EntityKey& key, std::uint64_t) {
      return std::binary_search(added.begin(), added.end(), key);
    });
  }
  format_version = changes.format_version;
}

void RatchetState::share_bindings(const VaultState& state) {
  // Secret keys are ordered by their ids, as the state's secret index is, so one forward walk
  // finds each secret's current record.
  const auto& index = state.secret_index;
  auto slot = index.begin();
  auto id_less = [](const VaultState::SecretSlot& s, const SecretId& id) { return s.id < id; };
  for (auto& [key, binding] : bindings) {
    const auto* secret = std::get_if<core::entity::Secret>(&key.variant());
    if (secret == nullptr) continue;
    slot = lower_bound_from(slot, index.end(), secret->secret_id, id_less);
    if (slot == index.end() || slot->id != secret->secret_id) continue;
    const EffectiveRecord& record = state.records[slot->current];
    const core::SecretSelectorV1* stated = record.body().secret_selector();
    // A binding that refers to this very selector already (loaded beside the records) is left
    // as it is; so is one of another kind, which no selector equals.
    if (stated == nullptr || binding.kind() != EntityBinding::Secret || &binding.selector() == stated) continue;
    if (binding.selector() == *stated) binding = *EntityBinding::of_body(record.record, record.body());
  }
}

template <class Fn>
void RatchetState::for_each_record(Fn&& fn) const {
  // Both maps are ordered by the same key, so one forward walk finds each counter's binding.
  auto b = bindings.begin();
  for (const auto& [key, counter] : counters) {
    while (b != bindings.end() && b->first < key) ++b;
    const EntityBinding* binding = (b != bindings.end() && b->first == key) ? &b->second : nullptr;
    if (auto record = ratchet_record_from_counter(key, counter, binding)) fn(std::move(*record));
  }
  if (format_version != 0) fn(core::RatchetRecordV1::format_version(format_version));
  fn(core::RatchetRecordV1(core::TrustedRootRatchetRecordV1{trusted_root}));
}

OpsResult<void> RatchetState::merge(const RatchetState& other) {
  if (other.trusted_root != trusted_root) return std::unexpected(OpsError::recovery_mismatch());
  // Put by while `other`'s maps are walked (they may be ours), folded in after.
  PutBy later;
  other.for_each_record([this, &later](const core::RatchetRecordV1& record) { apply_later(record, later); });
  fold_in(std::move(later));

  // Room first, so the views below stay valid while payloads are appended.
  raw_records.reserve(raw_records.size() + other.raw_records.size());
  auto less = [](cord::ByteView a, cord::ByteView b) { return cord::bytes_less(a, b); };
  std::set<cord::ByteView, decltype(less)> kept(less);
  for (const cord::Bytes& raw : raw_records) kept.insert(raw);
  for (const cord::Bytes& raw : other.raw_records) {
    if (kept.contains(raw)) continue;
    raw_records.push_back(raw);
    kept.insert(raw_records.back());
  }
  return {};
}

void RatchetState::visit_records(const std::function<void(const core::RatchetRecordV1&)>& visit) const {
  for_each_record([&visit](core::RatchetRecordV1&& record) { visit(record); });
}

std::vector<core::RatchetRecordV1> RatchetState::to_records() const {
  std::vector<core::RatchetRecordV1> out;
  out.reserve(counters.size() + 2);
  for_each_record([&out](core::RatchetRecordV1&& record) { out.push_back(std::move(record)); });
  return out;
}

std::vector<core::RatchetElement> RatchetState::to_elements() const {
  std::vector<core::RatchetElement> out;
  out.reserve(counters.size() + 2 + raw_records.size());
  for_each_record([&out](core::RatchetRecordV1&& record) { out.emplace_back(std::move(record)); });
  for (const cord::Bytes& raw : raw_records) out.push_back(core::RatchetElement::raw(raw));
  return out;
}

namespace {

using Entry = core::RatchetRecordV1;  // its Kind numbers the entries

// What an absent secret binding is written as.
const core::SecretSelectorV1 kNoSelector{};

// A selector as its codec writes it (the tuple's count and texts, then the labels' count and
// each key and value, every count and length in four bytes), sized first and written in one
// piece; false, with nothing written, when a text is not ASCII (whose NFC form the codec works
// out) or too long, which the codec is left to write.
bool write_ascii_selector(cord::Buffer& out, const core::SecretSelectorV1& selector) {
  constexpr std::uint64_t kMax = cord::max_of(cord::Width::W32);
  std::uint64_t size = 8;
  auto fits = [&](std::string_view t) {
    size += 4 + t.size();
    return t.size() <= kMax && cord::is_ascii(t);
  };
  for (const cord::Text& t : selector.tuple) {
    if (!fits(t.view())) return false;
  }
  for (const core::SecretLabelV1& l : selector.labels) {
    if (!fits(l.key.view()) || !fits(l.value.view())) return false;
  }
  if (selector.tuple.size() > kMax || selector.labels.size() > kMax) return false;
  const std::size_t start = out.size();
  out.resize(start + size);
  std::uint8_t* p = out.data() + start;
  auto put_len = [&p](std::uint64_t n) {
    for (int i = 3; i >= 0; --i) *p++ = static_cast<std::uint8_t>(n >> (8 * i));
  };
  auto put_text = [&](std::string_view t) {
    put_len(t.size());
    p = std::copy_n(reinterpret_cast<const std::uint8_t*>(t.data()), t.size(), p);
  };
  put_len(selector.tuple.size());
  for (const cord::Text& t : selector.tuple) put_text(t.view());
  put_len(selector.labels.size());
  for (const core::SecretLabelV1& l : selector.labels) {
    put_text(l.key.view());
    put_text(l.value.view());
  }
  return true;
}

// One entry's slot as Codec<RatchetElement>::encode_known writes it: a four-byte length filled in
// once the payload is written, the record's variant index, then `fields`.
template <class Fields>
cord::Status write_slot(cord::Serializer& s, Entry::Kind kind, Fields&& fields) {
  cord::Buffer& out = s.out();
  constexpr std::size_t kLen = 4;
  const std::size_t start = out.size();
  out.resize(start + kLen);
  cord::Status st = s.write_variant_index(kind, cord::WidthHint::None);
  if (st) st = fields();
  if (!st) {
    out.resize(start);
    return st;
  }
  const std::uint64_t n = out.size() - start - kLen;
  if (n > cord::max_of(cord::Width::W32)) {
    out.resize(start);
    return std::unexpected(cord::Error::Overflow);
  }
  for (std::size_t i = 0; i < kLen; ++i) out[start + i] = static_cast<std::uint8_t>(n >> (8 * (kLen - 1 - i)));
  return {};
}

// The fields of an entity record, as RecordOf would make them and their codecs write them.
struct EntryOf {
  cord::Serializer& s;
  std::uint64_t counter;
  const EntityBinding* binding;

  bool bound(EntityBinding::Kind kind) const { return binding != nullptr && binding->kind() == kind; }

  template <class Id>
  cord::Status id_and_counter(Entry::Kind kind, const Id& id) const {
    return write_slot(s, kind, [&]() -> cord::Status {
      OSTREL_TRY(cord::encode(s, id));
      s.write_u64(counter);
      return {};
    });
  }
  template <class Id>
  cord::Status handle(Entry::Kind kind, const Id& id, EntityBinding::Kind bound_kind) const {
    return write_slot(s, kind, [&]() -> cord::Status {
      OSTREL_TRY(cord::encode(s, id));
      s.write_u64(counter);
      return s.serialize_str(bound(bound_kind) ? binding->handle() : std::string_view(), cord::WidthHint::None);
    });
  }

  cord::Status operator()(const core::entity::VaultRoot&) const { return {}; }
  cord::Status operator()(const core::entity::EntryPoint& k) const { return id_and_counter(Entry::EntryPoint, k.user_id); }
  cord::Status operator()(const core::entity::User& k) const { return id_and_counter(Entry::User, k.user_id); }
  cord::Status operator()(const core::entity::UserHandle& k) const {
    return handle(Entry::UserHandle, k.handle_id, EntityBinding::UserHandle);
  }
  cord::Status operator()(const core::entity::Group& k) const { return id_and_counter(Entry::Group, k.group_id); }
  cord::Status operator()(const core::entity::GroupMember& k) const {
    return write_slot(s, Entry::GroupMember, [&]() -> cord::Status {
      OSTREL_TRY(cord::encode(s, k.group_member_id));
      s.write_u64(counter);
      // An option: its tag byte, then the value.
      if (!bound(EntityBinding::GroupMember)) {
        s.write_u8(0);
        return {};
      }
      s.write_u8(1);
      return cord::encode(s, binding->member_input());
    });
  }
  cord::Status operator()(const core::entity::Grant& k) const { return id_and_counter(Entry::Grant, k.grant_id); }
  cord::Status operator()(const core::entity::Secret& k) const {
    return write_slot(s, Entry::Secret, [&]() -> cord::Status {
      OSTREL_TRY(cord::encode(s, k.secret_id));
      s.write_u64(counter);
      const core::SecretSelectorV1& selector = bound(EntityBinding::Secret) ? binding->selector() : kNoSelector;
      if (write_ascii_selector(s.out(), selector)) return {};
      return cord::encode(s, selector);
    });
  }
  cord::Status operator()(const core::entity::VaultHandle& k) const {
    return handle(Entry::VaultHandle, k.handle_id, EntityBinding::VaultHandle);
  }
};

}  // namespace

cord::Status RatchetState::encode_entries(cord::Serializer& s,
                                          std::vector<std::pair<std::size_t, std::size_t>>& ranges) const {
  const cord::Buffer& out = s.out();
  auto b = bindings.begin();
  for (const auto& [key, counter] : counters) {
    if (std::holds_alternative<core::entity::VaultRoot>(key.variant())) continue;  // never counted
    while (b != bindings.end() && b->first < key) ++b;
    const EntityBinding* binding = (b != bindings.end() && b->first == key) ? &b->second : nullptr;
    const std::size_t start = out.size();
    OSTREL_TRY(std::visit(EntryOf{s, counter, binding}, key.variant()));
    ranges.emplace_back(start, out.size());
  }
  if (format_version != 0) {
    const std::size_t start = out.size();
    OSTREL_TRY(write_slot(s, Entry::FormatVersion, [&]() -> cord::Status {
      s.write_u64(format_version);
      return {};
    }));
    ranges.emplace_back(start, out.size());
  }
  const std::size_t start = out.size();
  OSTREL_TRY(write_slot(s, Entry::TrustedRoot, [&]() { return cord::encode(s, trusted_root); }));
  ranges.emplace_back(start, out.size());
  return {};
}

bool has_rolled_back(const VaultState& state) {
  return std::any_of(state.unresolved.begin(), state.unresolved.end(),
                     [](const auto& entry) { return entry.second.rolled_back_from.has_value(); });
}

}  // namespace ostrel::validate
