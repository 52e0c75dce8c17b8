#include "core/validate/counters.h"

#include <algorithm>

#include "core/validate/entity_order.h"
#include "core/validate/ratchet_state.h"

namespace ostrel::validate {

using namespace core;

namespace {

bool counts_for_view(const EffectiveRecord& r, const Permissions& p, const std::set<UserId>& entry_signers,
                     const std::set<HashValue>& admitted) {
  const RecordBodyV1& body = r.body();
  switch (body.kind()) {
    case RecordBodyV1::VaultRoot: return false;
    case RecordBodyV1::EntryPoint: return true;
    case RecordBodyV1::User: return p.admin && entry_signers.contains(std::get<UserRecordV1>(body).user_id);
    case RecordBodyV1::UserHandle:
    case RecordBodyV1::Group:
    case RecordBodyV1::GroupMember:
    case RecordBodyV1::GroupMemberDeleted:
    case RecordBodyV1::VaultHandle: return p.admin;
    case RecordBodyV1::Grant: return p.may_grant(std::get<GrantRecordV1>(body).permission);
    case RecordBodyV1::GroupDeleted:
    case RecordBodyV1::GrantDeleted:
    case RecordBodyV1::UserDeleted: return admitted.contains(r.hash);
    case RecordBodyV1::Secret:
    case RecordBodyV1::SecretDeleted: return p.can_write(*body.secret_selector());
  }
  return false;
}

}  // namespace

CountedRecords derive_ratchet_view(std::span<const EffectiveRecord> records, const VaultState& first_pass,
                                   const std::set<HashValue>& admitted) {
  const std::set<UserId> entry_signers = entry_point_signers(records);
  // The records that count, grouped by entity with record order kept inside each group: an
  // entity's counter is its group's highest, its binding the first one a record of it gives.
  // Grouping a list and filling the maps in key order is cheaper than a map search per record.
  std::vector<const EffectiveRecord*> counted;
  counted.reserve(records.size());
  PermissionsLookup permissions(first_pass.authority);
  for (const EffectiveRecord& r : records) {
    if (counts_for_view(r, permissions(r.signer), entry_signers, admitted)) counted.push_back(&r);
  }
  // The order secret_writes gives (by entity, then record order), so its records come out of
  // this list in its order.
  sort_by_entity(counted, [](const EffectiveRecord& a, const EffectiveRecord& b) { return &a < &b; });
  std::size_t entities = 0;
  for (std::size_t i = 0; i < counted.size(); ++i) entities += i == 0 || counted[i]->key != counted[i - 1]->key;
  CountedRecords out;
  for (const EffectiveRecord* r : counted) {
    if (r->body().secret_selector() != nullptr) out.secret_writes.push_back(r);
  }
  RatchetView& view = out.view;
  view.counters.reserve(entities);
  view.bindings.reserve(entities);
  for (auto first = counted.begin(); first != counted.end();) {
    const EntityKey& key = (*first)->key;
    std::uint64_t counter = 0;
    std::optional<EntityBinding> binding;
    auto it = first;
    for (; it != counted.end() && (*it)->key == key; ++it) {
      counter = std::max(counter, (*it)->body().counter());
      if (!binding) binding = EntityBinding::of_body((*it)->record, (*it)->body());
    }
    view.counters.push_back(key, counter);
    if (binding) view.bindings.push_back(key, std::move(*binding));
    first = it;
  }
  return out;
}

RolledBackMap rolled_back_entities(const RatchetView& view, const RatchetState& remembered) {
  // Both maps are in key order: one walk over the view finds each remembered key.
  RolledBackMap out;
  auto at = view.counters.begin();
  for (const auto& [key, counter] : remembered.counters) {
    at = view.counters.lower_bound_from(at, key);
    const std::uint64_t current = at == view.counters.end() || at->first != key ? 0 : at->second;
    if (current < counter) out.emplace_hint(out.end(), key, counter);
  }
  return out;
}

ConflictMap latest_secret_records(std::span<const EffectiveRecord* const> writes, const RolledBackMap& rolled_back) {
  // Per secret (not rolled back), its records at the top counter compete.
  ConflictMap out;
  std::vector<const EffectiveRecord*> top;
  for (auto first = writes.begin(); first != writes.end();) {
    const EntityKey& key = (*first)->key;
    auto last = first;
    while (last != writes.end() && (*last)->key == key) ++last;
    if (last - first > 1 && (rolled_back.empty() || !rolled_back.contains(key))) {
      std::uint64_t counter = 0;
      for (auto it = first; it != last; ++it) counter = std::max(counter, (*it)->body().counter());
      top.clear();
      for (auto it = first; it != last; ++it) {
        if ((*it)->body().counter() == counter) top.push_back(*it);
      }
      if (std::optional<ConflictEntry> conflict = conflict_among(top)) out.emplace(key, std::move(*conflict));
    }
    first = last;
  }
  return out;
}

std::map<EntityKey, UnresolvedEntry> build_heads(std::span<const EffectiveRecord> records, const ConflictMap& conflicts) {
  std::map<EntityKey, UnresolvedEntry> out;
  if (conflicts.empty()) return out;
  std::map<HashValue, const EffectiveRecord*> by_hash;
  for (const EffectiveRecord& r : records) by_hash.emplace(r.hash, &r);
  for (const auto& [key, entry] : conflicts) out.emplace(key, entity_heads(key, entry, by_hash));
  return out;
}

std::map<EntityKey, UnresolvedEntry> rolled_back_entries(std::span<const EffectiveRecord> records,
                                                         const RolledBackMap& rolled_back, const RatchetView& view,
                                                         const RatchetState& remembered) {
  std::map<EntityKey, UnresolvedEntry> out;
  if (rolled_back.empty()) return out;
  for (const auto& [key, counter] : rolled_back) {
    UnresolvedEntry e;
    e.rolled_back_from = counter;
    e.key = key;
    auto c = view.counters.find(key);
    e.counter = c == view.counters.end() ? 0 : c->second;
    if (auto b = view.bindings.find(key); b != view.bindings.end()) {
      e.binding = b->second;
    } else if (auto rb = remembered.bindings.find(key); rb != remembered.bindings.end()) {
      e.binding = rb->second;
    }
    out.emplace(key, std::move(e));
  }
  // One pass over the records collects every rolled-back entity's records at its current counter.
  std::map<EntityKey, std::vector<const VaultRecordV1*>> found;
  for (const EffectiveRecord& r : records) {
    auto it = out.find(r.key);
    if (it != out.end() && r.body().counter() == it->second.counter) found[r.key].push_back(&r.record);
  }
  for (auto& [key, list] : found) {
    std::sort(list.begin(), list.end(), [](const VaultRecordV1* a, const VaultRecordV1* b) {
      return cord::bytes_less(a->encoding(), b->encoding());
    });
    auto& candidates = out.at(key).candidates;
    for (const VaultRecordV1* r : list) {
      if (!candidates.empty() && candidates.back() == *r) continue;
      candidates.push_back(*r);
    }
  }
  return out;
}

RatchetView ratchet_delta(RatchetView&& view, const RatchetState& remembered) {
  // The view becomes the delta in place: what is already remembered leaves it, nothing is copied.
  // The delta is kept with the state, so it holds no spare room. The view and the remembered maps
  // are in the same key order, and erase_if asks in key order, so each remembered map is walked
  // once alongside.
  auto counter_at = remembered.counters.begin();
  view.counters.erase_if([&](const EntityKey& key, std::uint64_t counter) {
    counter_at = remembered.counters.lower_bound_from(counter_at, key);
    const bool held = counter_at != remembered.counters.end() && counter_at->first == key;
    return counter <= (held ? counter_at->second : 0);
  });
  auto binding_at = remembered.bindings.begin();
  view.bindings.erase_if([&](const EntityKey& key, const EntityBinding&) {
    binding_at = remembered.bindings.lower_bound_from(binding_at, key);
    return binding_at != remembered.bindings.end() && binding_at->first == key;
  });
  view.counters.trim();
  view.bindings.trim();
  RatchetView delta;
  delta.counters = std::move(view.counters);
  delta.bindings = std::move(view.bindings);
  return delta;
}

}  // namespace ostrel::validate
