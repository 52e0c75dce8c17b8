#include "core/validate/derive_added.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/record_check.h"
#include "core/record_sign.h"
#include "core/validate/derive.h"
#include "crypto/signing.h"

namespace ostrel::validate {

using namespace core;

// Why one added secret record changes so little. Records are judged one by one against a signer
// map that only user and entry-point records shape, and the root search, both authority passes,
// handles and entry points read no secret record. So when every other record of the candidate is
// one of the base's effective records, in order, each is judged as before (the base's hashes now
// count as verified, and none was left out silently), the added record is judged alone, and both
// passes give the base's authority, provided they see the same rolled-back map: none, because the
// base rolled nothing back and the next ratchet asks no entity for more than the candidate's view
// holds. Only the added record's entity can move in the view; its counter and binding in the
// ratchet delta, its conflict and its index slot follow from its records at the top counter.
//
// The whole set is derived instead when:
// - the base has issues, is invalid, or rolled entities back (its passes differed, or it already
//   reports what a write refuses);
// - the next ratchet belongs to another root, or remembers a newer format version than ours;
// - the added record is not a secret value or deletion, has no encoding, fails its structure
//   check or its signature, or is already one of the base's records;
// - the other records are not exactly the base's effective records in order (records of an
//   ambiguous signing key are left out silently; or a caller's mistake);
// - its signing key signs no effective record of the base (an unknown or ambiguous key, or a user
//   who has signed nothing: the signer map itself is not kept);
// - the next ratchet's counter for any other entity differs from the base's view (a rollback, or
//   a counter the delta would carry), or it lacks a binding the view may hold, or it remembers
//   more for the added record's entity than the candidate's view holds;
// - the added record meets its secret's top counter with a different body, or a conflicted
//   secret's top counter (a conflict made or changed).

namespace {

template <class Map>
std::uint64_t counter_in(const Map& counters, const EntityKey& key) {
  auto it = counters.find(key);
  return it == counters.end() ? 0 : it->second;
}

// Whether `next` holds, for every entity but `skip`, the counter of the base's view: the
// remembered counter raised by the base's delta (absent counts as 0), which is the view's own
// when the base rolled nothing back. One walk over the three maps in key order; the next and the
// remembered ratchet mostly hold the same keys, so a step usually costs one key comparison.
bool counters_agree(const RatchetState& next, const RatchetState& remembered, const RatchetView& delta,
                    const EntityKey* skip) {
  auto n = next.counters.begin();
  auto r = remembered.counters.begin();
  auto d = delta.counters.begin();
  const auto n_end = next.counters.end();
  const auto r_end = remembered.counters.end();
  const auto d_end = delta.counters.end();
  while (n != n_end || r != r_end || d != d_end) {
    const EntityKey* key;
    if (n != n_end && r != r_end && n->first == r->first) {
      key = &n->first;
    } else {
      key = n != n_end ? &n->first : nullptr;
      if (r != r_end && (key == nullptr || r->first < *key)) key = &r->first;
    }
    if (d != d_end && (key == nullptr || d->first < *key)) key = &d->first;
    const EntityKey& k = *key;  // an entry of its map, alive while the iterators move on
    std::uint64_t held = 0;
    std::uint64_t viewed = 0;
    if (n != n_end && &n->first == key) held = (n++)->second;  // a key equal to n's is n's own
    if (r != r_end && (&r->first == key || r->first == k)) viewed = (r++)->second;
    if (d != d_end && (&d->first == key || d->first == k)) viewed = std::max(viewed, (d++)->second);
    if (held != viewed && (skip == nullptr || k != *skip)) return false;
  }
  return true;
}

// Whether every key of `held` but `skip` is a key of `in`; both ascending. Usually the keys are
// the same, and a step costs one comparison.
template <class Held, class In>
bool keys_within(const Held& held, const In& in, const EntityKey* skip) {
  auto it = in.begin();
  for (const auto& [key, value] : held) {
    if (skip != nullptr && key == *skip) continue;
    while (it != in.end() && it->first != key) {
      if (key < it->first) return false;
      ++it;
    }
    if (it == in.end()) return false;
    ++it;
  }
  return true;
}

}  // namespace

std::optional<VaultState> derive_by_addition(const VaultState& base, const RatchetState& remembered,
                                             std::span<const VaultRecordV1> candidate, std::size_t added,
                                             const RatchetState& next) {
  if (!base.issues.empty() || base.invalid || !base.root_user_id || has_rolled_back(base)) return std::nullopt;
  // The root search runs against the next ratchet's root: only the base's own finds the same.
  if (next.trusted_root != base.root_key_id || next.format_version > kFormatVersion || added >= candidate.size()) {
    return std::nullopt;
  }
  const VaultRecordV1& record = candidate[added];
  const RecordBodyV1* body = record.known_body();
  if (body == nullptr || body->secret_selector() == nullptr || record.encoding().empty()) return std::nullopt;
  if (!check_structure(record, *body, *base.root_user_id)) return std::nullopt;

  // The other known records must be the base's effective records, in order; the added one lands
  // at `at`. Its signer is the one the base resolved its key to.
  const std::vector<EffectiveRecord>& before = base.records;
  std::size_t at = 0;
  std::size_t j = 0;
  const UserId* signer = nullptr;
  for (std::size_t i = 0; i < candidate.size(); ++i) {
    if (i == added) {
      at = j;
      continue;
    }
    if (j == before.size() || !(candidate[i] == before[j].record)) {
      if (candidate[i].known_body() == nullptr) continue;  // a later version's record: never judged
      return std::nullopt;
    }
    if (signer == nullptr && before[j].record.signing_public_key() == record.signing_public_key()) {
      signer = &before[j].signer;
    }
    ++j;
  }
  if (j != before.size() || signer == nullptr) return std::nullopt;

  HashValue hash = record_hash(record);
  if (base.record_with_hash(hash) != nullptr) return std::nullopt;
  if (!crypto::verify_signature(kRecordSignaturePurpose, record.signing_public_key(), record.signed_message(),
                                record.signature())) {
    return std::nullopt;
  }

  const EntityKey key = body->record_key(*signer);
  const SecretId& id = *body->secret_id();
  const std::uint64_t counter = body->counter();
  // Whether it counts for the view and may become current: both ask the one authority there is.
  const bool writes = base.permissions_of(*signer).can_write(*body->secret_selector());

  // The ratchet: nothing rolls back and nothing but the added record's entity is new.
  const EntityKey* moving = writes ? &key : nullptr;
  if (!counters_agree(next, remembered, base.ratchet, moving) || !keys_within(remembered.bindings, next.bindings, moving) ||
      !keys_within(base.ratchet.bindings, next.bindings, moving)) {
    return std::nullopt;
  }
  std::uint64_t viewed = 0;  // the entity's counter in the candidate's view, when the record counts
  if (writes) {
    viewed = std::max({counter_in(remembered.counters, key), counter_in(base.ratchet.counters, key), counter});
    if (counter_in(next.counters, key) > viewed) return std::nullopt;
  }

  // The secret's slot: positions from `at` on move up by one.
  EffectiveRecord effective{key, record, hash, *signer};
  const auto pos = static_cast<std::uint32_t>(at);
  auto shifted = [pos](std::uint32_t p) { return p >= pos ? p + 1 : p; };
  const auto slot = std::lower_bound(base.secret_index.begin(), base.secret_index.end(), id,
                                     [](const VaultState::SecretSlot& s, const SecretId& want) { return s.id < want; });
  const bool indexed = slot != base.secret_index.end() && slot->id == id;
  VaultState::SecretSlot moved{id, pos, pos};
  bool resolves = false;
  if (writes && indexed) {
    const EffectiveRecord& current = before[slot->current];
    const std::uint64_t top = current.body().counter();
    const bool conflicted = base.unresolved.contains(key);
    moved.first = std::min(shifted(slot->first), pos);
    if (counter > top) {
      resolves = conflicted;  // alone at a new top counter
    } else if (counter < top) {
      moved.current = shifted(slot->current);
    } else {
      if (conflicted || !(*body == current.body())) return std::nullopt;
      if (cmp(effective, current) < 0) moved.current = shifted(slot->current);
    }
  }

  VaultState out;
  static_cast<PrincipalMaps&>(out) = base;
  out.root_user_id = base.root_user_id;
  out.root_key_id = base.root_key_id;
  out.user_handles = base.user_handles;
  out.vault_handles = base.vault_handles;
  out.entry_points = base.entry_points;
  out.authority = base.authority;
  out.unresolved = base.unresolved;
  if (resolves) out.unresolved.erase(key);
  out.invalid = false;
  out.max_counter = base.max_counter;
  if (writes) out.max_counter = std::max(base.max_counter.value_or(0), counter);

  out.records.reserve(before.size() + 1);
  out.records.insert(out.records.end(), before.begin(), before.begin() + static_cast<std::ptrdiff_t>(at));
  out.records.push_back(std::move(effective));
  out.records.insert(out.records.end(), before.begin() + static_cast<std::ptrdiff_t>(at), before.end());

  out.secret_index.reserve(base.secret_index.size() + 1);
  for (auto it = base.secret_index.begin(); it != base.secret_index.end(); ++it) {
    if (writes && it == slot) {
      out.secret_index.push_back(moved);
      if (indexed) continue;
    }
    out.secret_index.push_back(VaultState::SecretSlot{it->id, shifted(it->current), shifted(it->first)});
  }
  if (writes && slot == base.secret_index.end()) out.secret_index.push_back(moved);

  const std::pair<std::uint64_t, std::size_t> entry(hash_order_key(hash), at);
  out.hash_order.reserve(base.hash_order.size() + 1);
  bool placed = false;
  for (const auto& [prefix, p] : base.hash_order) {
    const std::pair<std::uint64_t, std::size_t> e(prefix, p >= at ? p + 1 : p);
    if (!placed && entry < e) {
      out.hash_order.push_back(entry);
      placed = true;
    }
    out.hash_order.push_back(e);
  }
  if (!placed) out.hash_order.push_back(entry);

  // The delta: the added record's entity when its counter passes the next ratchet's, and its
  // binding when none is remembered; the format version as derive_state gives it to a clean state.
  if (next.format_version == 0) out.ratchet.format_version = kFormatVersion;
  if (writes) {
    if (viewed > counter_in(next.counters, key)) out.ratchet.counters.push_back(key, viewed);
    if (!next.bindings.contains(key)) out.ratchet.bindings.push_back(key, *EntityBinding::of_body(record, *body));
  }
  return out;
}

CoreResult<VaultState> derive_with_added_record(const VaultState& base, const RatchetState& base_remembered,
                                                std::span<const VaultRecordV1> candidate, std::size_t added,
                                                const RatchetState& next_ratchet) {
  if (std::optional<VaultState> state = derive_by_addition(base, base_remembered, candidate, added, next_ratchet)) {
    return std::move(*state);
  }
  return derive_state(candidate, next_ratchet, base.record_hashes());
}

}  // namespace ostrel::validate
