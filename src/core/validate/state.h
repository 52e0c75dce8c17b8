// The validated state of one vault and the values that live in it. A VaultState is built once
// by the derivation and not changed afterwards; it may be read from any thread.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/access.h"
#include "core/entity_key.h"
#include "core/records.h"
#include "core/validate/entity_binding.h"
#include "core/validate/flat_map.h"
#include "core/validate/hash_set.h"
#include "core/validate/permissions.h"
#include "core/validation_issue.h"

namespace ostrel::validate {

using core::EntityKey;

// The anti-rollback facts by which a vault advances the remembered state.
// Built once per derivation in key order, so held flat.
struct RatchetView {
  std::optional<std::uint64_t> format_version;
  FlatMap<EntityKey, std::uint64_t> counters;
  FlatMap<EntityKey, EntityBinding> bindings;
  friend bool operator==(const RatchetView&, const RatchetView&) = default;
};

// Record hashes of records whose signatures are known to verify: what a derivation takes as
// already checked, and what a derived state offers the next one. Looked up once per record, so
// hashed rather than ordered, and held flat.
using VerifiedHashes = HashSet;

// A record that passed the per-record checks, with what the derivation learned of it. Its body
// is the record's own decoded body (an effective record never has a raw one), not a second copy.
struct EffectiveRecord {
  EntityKey key;
  core::VaultRecordV1 record;
  HashValue hash;
  UserId signer;

  // REQUIRES: the record's body is decoded (true of every effective record).
  const core::RecordBodyV1& body() const { return *record.known_body(); }

  // Counter, then signer bytes, then hash bytes.
  friend std::strong_ordering cmp(const EffectiveRecord& a, const EffectiveRecord& b) {
    if (auto c = a.body().counter() <=> b.body().counter(); c != 0) return c;
    if (auto c = a.signer <=> b.signer; c != 0) return c;
    return a.hash <=> b.hash;
  }
};

// An entity without a single current record: a conflict, or an entity rolled back below what
// was remembered.
struct UnresolvedEntry {
  std::optional<std::uint64_t> rolled_back_from;  // absent for a conflict
  std::optional<EntityBinding> binding;           // absent for a conflict
  EntityKey key;
  std::vector<core::VaultRecordV1> candidates;  // sorted by encoding, exact duplicates removed
  std::uint64_t counter = 0;
};

// The status of one secret for one reader; the text form is the variant's name.
enum class SecretStatus : std::uint8_t {
  ActiveDecryptable = 0,
  NotEncryptedForReader = 1,
  Unauthorized = 2,
  Missing = 3,
  Conflicted = 4,
  Invalid = 5,
};
std::string_view to_string(SecretStatus status);
// A status in an error message: its name (found by the error shape's field formatting).
inline void append_field(std::string& out, SecretStatus status) { out += to_string(status); }

// A secret's current value record; its body is read through the record, not copied.
struct SecretEntry {
  core::VaultRecordV1 record;
  // REQUIRES: the record's body is a Secret (true of every entry a query returns).
  const core::SecretRecordV1& secret() const { return std::get<core::SecretRecordV1>(*record.known_body()); }
};

// The principals that take effect and those deleted: what an authority round decides and a
// state keeps. Each body is held through its record, not copied.
struct PrincipalMaps {
  std::map<UserId, core::RecordPart<core::UserRecordV1>> users;
  std::map<GroupId, core::RecordPart<core::GroupRecordV1>> groups;
  std::map<GroupMemberId, core::RecordPart<core::GroupMemberRecordV1>> memberships;
  std::map<GrantId, core::RecordPart<core::GrantRecordV1>> grants;
  std::set<UserId> deleted_users;
  std::set<GroupId> deleted_groups;
  std::set<GrantId> deleted_grants;
  friend bool operator==(const PrincipalMaps&, const PrincipalMaps&) = default;
};

struct VaultState : PrincipalMaps {
  std::optional<std::uint64_t> max_counter;
  std::vector<EffectiveRecord> records;
  std::optional<UserId> root_user_id;
  std::optional<HashValue> root_key_id;
  std::map<UserHandleId, core::RecordPart<core::UserHandleRecordV1>> user_handles;
  std::map<VaultHandleId, core::RecordPart<core::VaultHandleRecordV1>> vault_handles;
  std::map<UserId, core::RecordPart<core::EntryPointRecordV1>> entry_points;
  AuthorityMap authority;
  std::map<EntityKey, UnresolvedEntry> unresolved;
  // Where each secret's current record is, ascending by secret id: positions in `records` of the
  // current record and of the secret's first record (positions fit 32 bits: a state holds at
  // most the records of one vault).
  struct SecretSlot {
    SecretId id;
    std::uint32_t current = 0;
    std::uint32_t first = 0;
  };
  std::vector<SecretSlot> secret_index;
  // Positions in `records` ordered by their hash's leading eight bytes (then by position): finds a
  // record by hash without a scan. A digest's leading bytes cannot be chosen, so runs stay short.
  std::vector<std::pair<std::uint64_t, std::size_t>> hash_order;
  bool invalid = false;
  RatchetView ratchet;
  std::vector<core::ValidationIssue> issues;

  // The user's rights (its authority entry, or the empty one).
  const Permissions& permissions_of(const UserId& user) const { return validate::permissions_of(authority, user); }

  // ---- the secret index and the queries about secrets ----

  // Stores the records and the highest counter and indexes each secret's current record: the
  // greatest (by cmp) of its records whose signer may write the selector.
  void build_secret_index(std::vector<EffectiveRecord> effective, std::optional<std::uint64_t> max);
  // Indexes every record by hash and each secret's current record among `writes`.
  // REQUIRES: `writes` is secret_writes(records, authority).
  void index_records(std::span<const EffectiveRecord* const> writes);
  // The effective record at the secret's current position, or null.
  const EffectiveRecord* current_secret_record(const SecretId& id) const;
  // The current record when it is a value record (not a deletion); null otherwise.
  CoreResult<const EffectiveRecord*> current_value_record(const core::SecretSelectorV1& selector) const;
  // The current value record and its body, unless the secret is unresolved or has no value.
  CoreResult<std::optional<SecretEntry>> secret_record(const core::SecretSelectorV1& selector) const;
  SecretStatus secret_status(const core::SecretSelectorV1& selector, const UserId& reader) const;
  // Every active user who may read the selector, ascending by id.
  std::vector<UserId> readers_of(const core::SecretSelectorV1& selector) const;
  bool user_may_read(const UserId& user, const core::SecretSelectorV1& selector) const;
  // max_counter + 1, saturating; 0 without records.
  std::uint64_t next_counter() const;
  // One above the highest remembered counter of a rolled-back entity, saturating; 0 without one.
  std::uint64_t next_counter_after_unresolved() const;
  // The hashes of every effective record: what is already verified when the state is derived
  // again.
  VerifiedHashes record_hashes() const;
  // The first effective record with this hash (found through hash_order), or null.
  const EffectiveRecord* record_with_hash(const HashValue& hash) const;
  // Whether the record with this hash is its secret's current record (and the secret resolved).
  bool is_current_secret_record(const HashValue& hash) const;
  // Every resolved secret whose current record is a value, in the order of each secret's first
  // record in `records`.
  std::vector<SecretEntry> list_secrets() const;
};

// What hash_order sorts a record hash by: its first eight bytes, big-endian (zeros stand in for
// missing ones).
std::uint64_t hash_order_key(const HashValue& hash);

// The secret records (values and deletions) whose signer may write their selector under
// `authority`, grouped by secret, in record order within each secret.
std::vector<const EffectiveRecord*> secret_writes(std::span<const EffectiveRecord> records, const AuthorityMap& authority);

// Whether a listed secret lies under the caller's listing selector: its path is a prefix and
// each of its labels is carried with exactly that value.
bool listing_matches(const core::SecretSelectorV1& listed, const core::SecretSelectorV1& query);

}  // namespace ostrel::validate
