#include <algorithm>
#include <limits>

#include "core/ids.h"
#include "core/record_check.h"
#include "core/validate/authority.h"
#include "core/validate/entity_order.h"
#include "core/validate/state.h"
#include "errors/try.h"

namespace ostrel::validate {

using namespace core;

std::uint64_t hash_order_key(const HashValue& hash) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < 8; ++i) v = (v << 8) | (i < hash.bytes.size() ? hash.bytes[i] : 0);
  return v;
}

std::string_view to_string(SecretStatus status) {
  switch (status) {
    case SecretStatus::ActiveDecryptable: return "ActiveDecryptable";
    case SecretStatus::NotEncryptedForReader: return "NotEncryptedForReader";
    case SecretStatus::Unauthorized: return "Unauthorized";
    case SecretStatus::Missing: return "Missing";
    case SecretStatus::Conflicted: return "Conflicted";
    case SecretStatus::Invalid: return "Invalid";
  }
  return "Invalid";
}

std::vector<const EffectiveRecord*> secret_writes(std::span<const EffectiveRecord> records, const AuthorityMap& authority) {
  // Only writers' records count: admin, or a write or manage selector that matches.
  std::vector<const EffectiveRecord*> writes;
  PermissionsLookup permissions(authority);
  for (const EffectiveRecord& r : records) {
    const SecretSelectorV1* selector = r.body().secret_selector();
    if (selector != nullptr && permissions(r.signer).can_write(*selector)) writes.push_back(&r);
  }
  sort_by_entity(writes, [](const EffectiveRecord& a, const EffectiveRecord& b) { return &a < &b; });
  return writes;
}

void VaultState::build_secret_index(std::vector<EffectiveRecord> effective, std::optional<std::uint64_t> max) {
  max_counter = max;
  records = std::move(effective);
  index_records(secret_writes(records, authority));
}

void VaultState::index_records(std::span<const EffectiveRecord* const> writes) {
  hash_order.clear();
  hash_order.reserve(records.size());
  for (std::size_t n = 0; n < records.size(); ++n) hash_order.emplace_back(hash_order_key(records[n].hash), n);
  std::sort(hash_order.begin(), hash_order.end());
  secret_index.clear();
  // The current record is the greatest by cmp, the first one met on ties.
  auto position = [&](const EffectiveRecord* r) { return static_cast<std::uint32_t>(r - records.data()); };
  for (auto first = writes.begin(); first != writes.end();) {
    const EntityKey& key = (*first)->key;
    const EffectiveRecord* current = *first;
    auto it = first;
    for (; it != writes.end() && (*it)->key == key; ++it) {
      if (cmp(**it, *current) > 0) current = *it;
    }
    secret_index.push_back(SecretSlot{*(*first)->body().secret_id(), position(current), position(*first)});
    first = it;
  }
}

const EffectiveRecord* VaultState::current_secret_record(const SecretId& id) const {
  auto it = std::lower_bound(secret_index.begin(), secret_index.end(), id,
                             [](const SecretSlot& slot, const SecretId& want) { return slot.id < want; });
  return it == secret_index.end() || it->id != id ? nullptr : &records[it->current];
}

CoreResult<const EffectiveRecord*> VaultState::current_value_record(const SecretSelectorV1& selector) const {
  OSTREL_TRY_ASSIGN(auto id, core::derive_secret_id(selector));
  const EffectiveRecord* r = current_secret_record(id);
  if (r == nullptr || r->body().kind() != RecordBodyV1::Secret) return nullptr;
  return r;
}

CoreResult<std::optional<SecretEntry>> VaultState::secret_record(const SecretSelectorV1& selector) const {
  OSTREL_TRY_ASSIGN(auto id, core::derive_secret_id(selector));
  if (unresolved.contains(EntityKey(entity::Secret{id}))) return std::nullopt;
  const EffectiveRecord* r = current_secret_record(id);
  if (r == nullptr || r->body().kind() != RecordBodyV1::Secret) return std::nullopt;
  return SecretEntry{r->record};
}

SecretStatus VaultState::secret_status(const SecretSelectorV1& selector, const UserId& reader) const {
  if (invalid) return SecretStatus::Invalid;
  auto id = core::derive_secret_id(selector);
  if (!id) return SecretStatus::Invalid;
  if (unresolved.contains(EntityKey(entity::Secret{*id}))) return SecretStatus::Conflicted;
  const EffectiveRecord* r = current_secret_record(*id);
  if (r == nullptr || r->body().kind() != RecordBodyV1::Secret) return SecretStatus::Missing;
  const SecretRecordV1& secret = std::get<SecretRecordV1>(r->body());
  // The stored selector decides, not the caller's (both give the same id).
  if (!permissions_of(reader).can_read(secret.selector)) return SecretStatus::Unauthorized;
  if (names_a_recipient_twice(secret.payload)) return SecretStatus::Invalid;
  if (!users.contains(reader)) return SecretStatus::Unauthorized;
  const auto& slots = secret.payload.recipient_slots;
  const bool has_slot =
      std::any_of(slots.begin(), slots.end(), [&](const RecipientSlotV1& s) { return s.recipient == reader; });
  return has_slot ? SecretStatus::ActiveDecryptable : SecretStatus::NotEncryptedForReader;
}

bool VaultState::user_may_read(const UserId& user, const SecretSelectorV1& selector) const {
  return permissions_of(user).can_read(selector);
}

std::vector<UserId> VaultState::readers_of(const SecretSelectorV1& selector) const {
  std::vector<UserId> out;
  for (const auto& [id, user] : users) {
    if (user_may_read(id, selector)) out.push_back(id);
  }
  return out;  // the user map is already in ascending id order
}

std::uint64_t VaultState::next_counter() const {
  if (!max_counter) return 0;
  return *max_counter == std::numeric_limits<std::uint64_t>::max() ? *max_counter : *max_counter + 1;
}

std::uint64_t VaultState::next_counter_after_unresolved() const {
  std::uint64_t best = 0;
  for (const auto& [key, entry] : unresolved) {
    if (!entry.rolled_back_from) continue;
    const std::uint64_t c = *entry.rolled_back_from;
    best = std::max(best, c == std::numeric_limits<std::uint64_t>::max() ? c : c + 1);
  }
  return best;
}

VerifiedHashes VaultState::record_hashes() const { return record_hash_set(records); }

const EffectiveRecord* VaultState::record_with_hash(const HashValue& hash) const {
  const std::uint64_t prefix = hash_order_key(hash);
  for (auto it = std::lower_bound(hash_order.begin(), hash_order.end(), std::pair<std::uint64_t, std::size_t>(prefix, 0));
       it != hash_order.end() && it->first == prefix; ++it) {
    if (records[it->second].hash == hash) return &records[it->second];
  }
  return nullptr;
}

bool VaultState::is_current_secret_record(const HashValue& hash) const {
  const EffectiveRecord* r = record_with_hash(hash);
  if (r == nullptr) return false;
  const SecretId* id = r->body().secret_id();
  if (id == nullptr || unresolved.contains(EntityKey(entity::Secret{*id}))) return false;
  const EffectiveRecord* current = current_secret_record(*id);
  return current != nullptr && current->hash == hash;
}

std::vector<SecretEntry> VaultState::list_secrets() const {
  std::vector<const SecretSlot*> listed;
  for (const SecretSlot& slot : secret_index) {
    if (!unresolved.empty() && unresolved.contains(records[slot.current].key)) continue;
    listed.push_back(&slot);
  }
  std::sort(listed.begin(), listed.end(), [](const SecretSlot* a, const SecretSlot* b) { return a->first < b->first; });
  std::vector<SecretEntry> rows;
  for (const SecretSlot* slot : listed) {
    const EffectiveRecord& r = records[slot->current];
    if (r.body().kind() == RecordBodyV1::Secret) rows.push_back(SecretEntry{r.record});
  }
  return rows;
}

bool listing_matches(const SecretSelectorV1& listed, const SecretSelectorV1& query) {
  KeyspaceSelectorV1 k{tuple_matcher::Prefix{query.tuple}, {}};
  for (const SecretLabelV1& l : query.labels) k.labels.push_back(KeyspaceLabelMatcherV1{l.key, label_matcher::Equals{l.value}});
  return matches(k, listed);
}

}  // namespace ostrel::validate
