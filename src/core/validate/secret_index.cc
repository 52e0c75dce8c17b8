#include <algorithm>
#include <limits>
#include <unordered_set>

#include "core/ids.h"
#include "core/validate/authority.h"
#include "core/validate/state.h"

namespace ostrel::validate {

using namespace core;

namespace {

bool names_a_recipient_twice(const SealedPayloadV1& payload) {
  std::unordered_set<UserId> seen;
  for (const RecipientSlotV1& slot : payload.recipient_slots) {
    if (!seen.insert(slot.recipient).second) return true;
  }
  return false;
}

}  // namespace

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

void VaultState::build_secret_index(std::vector<EffectiveRecord> effective, std::optional<std::uint64_t> max) {
  max_counter = max;
  records = std::move(effective);
  secret_index.clear();
  for (std::size_t n = 0; n < records.size(); ++n) {
    const EffectiveRecord& r = records[n];
    const SecretId* id = r.body().secret_id();
    if (id == nullptr) continue;
    // Only writers' records enter: admin, or a write or manage selector that matches.
    if (!permissions_of(r.signer).can_write(*r.body().secret_selector())) continue;
    auto [it, inserted] = secret_index.try_emplace(*id, n, n);
    if (!inserted && cmp(r, records[it->second.first]) > 0) it->second.first = n;
  }
}

const EffectiveRecord* VaultState::current_secret_record(const SecretId& id) const {
  auto it = secret_index.find(id);
  return it == secret_index.end() ? nullptr : &records[it->second.first];
}

CoreResult<const EffectiveRecord*> VaultState::current_value_record(const SecretSelectorV1& selector) const {
  auto id = core::derive_secret_id(selector);
  if (!id) return std::unexpected(std::move(id).error());
  const EffectiveRecord* r = current_secret_record(*id);
  if (r == nullptr || r->body().kind() != RecordBodyV1::Secret) return nullptr;
  return r;
}

CoreResult<std::optional<SecretEntry>> VaultState::secret_record(const SecretSelectorV1& selector) const {
  auto id = core::derive_secret_id(selector);
  if (!id) return std::unexpected(std::move(id).error());
  if (unresolved.contains(EntityKey(entity::Secret{*id}))) return std::nullopt;
  const EffectiveRecord* r = current_secret_record(*id);
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

std::set<HashValue> VaultState::record_hashes() const { return record_hash_set(records); }

bool VaultState::is_current_secret_record(const HashValue& hash) const {
  auto r = std::find_if(records.begin(), records.end(), [&](const EffectiveRecord& e) { return e.hash == hash; });
  if (r == records.end()) return false;
  const SecretId* id = r->body().secret_id();
  if (id == nullptr || unresolved.contains(EntityKey(entity::Secret{*id}))) return false;
  const EffectiveRecord* current = current_secret_record(*id);
  return current != nullptr && current->hash == hash;
}

std::vector<SecretEntry> VaultState::list_secrets() const {
  std::vector<const std::pair<const SecretId, std::pair<std::size_t, std::size_t>>*> listed;
  for (const auto& entry : secret_index) {
    if (!unresolved.empty() && unresolved.contains(records[entry.second.first].key)) continue;
    listed.push_back(&entry);
  }
  std::sort(listed.begin(), listed.end(), [](const auto* a, const auto* b) { return a->second.second < b->second.second; });
  std::vector<SecretEntry> rows;
  for (const auto* entry : listed) {
    const EffectiveRecord& r = records[entry->second.first];
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
