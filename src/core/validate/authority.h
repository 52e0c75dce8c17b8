// The authority fixpoint: which principal records take effect and what every principal may do,
// from the root user's rights outward, with deletions admitted one at a time. Pure functions of
// their inputs; safe from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "core/validate/state.h"

namespace ostrel::validate {

// The trusted root, as root selection found it.
struct RootIdentity {
  UserId user_id;
  cord::ByteString signing_public_key;
  cord::ByteString hpke_public_key;
  HashValue key_id;
};

using RolledBackMap = std::map<EntityKey, std::uint64_t>;

// The competing records of one entity: their hashes (ascending, once each) and their counter.
struct ConflictEntry {
  std::vector<HashValue> hashes;
  std::uint64_t counter = 0;
  friend bool operator==(const ConflictEntry&, const ConflictEntry&) = default;
};
using ConflictMap = std::map<EntityKey, ConflictEntry>;

// The conflict among records of one entity at one counter: their hashes, ascending and once
// each. None when all their bodies agree.
std::optional<ConflictEntry> conflict_among(std::span<const EffectiveRecord* const> records);

// What one authority round decides: the principals that take effect, and the conflicts met.
struct AuthorityRound : PrincipalMaps {
  ConflictMap conflicts;
  friend bool operator==(const AuthorityRound&, const AuthorityRound&) = default;
};

// ---- index sets ----

// Signers of every EntryPoint record (no rolled-back filter).
std::set<UserId> entry_point_signers(std::span<const EffectiveRecord> records);
// Every record hash of a state, once each.
VerifiedHashes record_hash_set(std::span<const EffectiveRecord> records);

// ---- the principal records of a pass, grouped once ----

// The records an authority pass looks at (the eight principal kinds, not rolled back), grouped
// by entity with the highest counter first, so that each round is one linear walk.
class PrincipalIndex {
 public:
  PrincipalIndex(std::span<const EffectiveRecord> records, const RolledBackMap& rolled_back);

  // Per pass (users, groups, memberships, grants): each entity's records, counter descending.
  const std::vector<std::vector<const EffectiveRecord*>>& users() const { return groups_[0]; }
  const std::vector<std::vector<const EffectiveRecord*>>& groups() const { return groups_[1]; }
  const std::vector<std::vector<const EffectiveRecord*>>& memberships() const { return groups_[2]; }
  const std::vector<std::vector<const EffectiveRecord*>>& grants() const { return groups_[3]; }

 private:
  std::vector<std::vector<const EffectiveRecord*>> groups_[4];
};

// One round: users, groups, memberships, grants, each judged by the previous authority.
AuthorityRound authority_round(const PrincipalIndex& index, const RootIdentity& root,
                               const std::set<UserId>& entry_point_users, const std::set<HashValue>& admitted_deletions,
                               const AuthorityMap& previous);

// The authority map with only the root user, holding full rights.
AuthorityMap seed_authority(const UserId& root_user_id);

// The unresolved entry of one conflict: its distinct signed records in encoding order.
// `by_hash` indexes the effective records by record hash.
UnresolvedEntry entity_heads(const EntityKey& key, const ConflictEntry& conflict,
                             const std::map<HashValue, const EffectiveRecord*>& by_hash);

struct AuthorityPassResult {
  VaultState state;
  std::set<HashValue> admitted_deletions;
};

// Admits user, group and grant deletions one at a time in EffectiveRecord order, each judged
// by its signer's rights in the fixpoint of the deletions admitted before it.
AuthorityPassResult authority_pass(const RootIdentity& root, std::span<const EffectiveRecord> records,
                                   const RolledBackMap& rolled_back);

}  // namespace ostrel::validate
