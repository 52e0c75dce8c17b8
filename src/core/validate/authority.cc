#include "core/validate/authority.h"

#include <algorithm>

#include "core/validate/authority_internal.h"

namespace ostrel::validate {
namespace {

using namespace core;
using Group = std::vector<const EffectiveRecord*>;

template <class T>
std::set<T> sorted_set(std::vector<T> v) {
  // Sort once and fill the tree in ascending order, rather than inserting one at a time.
  std::sort(v.begin(), v.end());
  return std::set<T>(std::make_move_iterator(v.begin()), std::make_move_iterator(v.end()));
}

bool is_rolled_back(const RolledBackMap& rolled_back, const EntityKey& key) {
  return !rolled_back.empty() && rolled_back.contains(key);
}

// Per entity, the accepted records at the highest accepted counter: the one with the smallest
// hash when all bodies agree, else a conflict. `group` is ordered by counter, highest first.
template <class Accept, class Decide>
void resolve(const Group& group, Accept&& accept, Decide&& decide, ConflictMap& conflicts) {
  Group kept;
  std::uint64_t counter = 0;
  for (const EffectiveRecord* r : group) {
    const std::uint64_t c = r->body().counter();
    if (!kept.empty() && c < counter) break;
    if (!accept(*r)) continue;
    if (kept.empty()) counter = c;
    kept.push_back(r);
  }
  if (kept.empty()) return;
  if (std::optional<ConflictEntry> conflict = conflict_among(kept)) {
    conflicts[kept.front()->key] = std::move(*conflict);
    return;
  }
  decide(**std::min_element(kept.begin(), kept.end(),
                            [](const EffectiveRecord* a, const EffectiveRecord* b) { return a->hash < b->hash; }));
}

// Groups (record pointers, in state order) by entity key, each group ordered by counter with
// the highest first.
std::vector<Group> group_by_entity(std::vector<const EffectiveRecord*> refs) {
  // Order among equal counters does not matter: resolution looks at the set of kept records.
  std::sort(refs.begin(), refs.end(), [](const EffectiveRecord* a, const EffectiveRecord* b) {
    if (auto c = a->key <=> b->key; c != 0) return c < 0;
    return a->body().counter() > b->body().counter();
  });
  std::vector<Group> out;
  for (const EffectiveRecord* r : refs) {
    if (out.empty() || out.back().front()->key != r->key) out.emplace_back();
    out.back().push_back(r);
  }
  return out;
}

bool principal_exists(const PrincipalRefV1& p, const AuthorityRound& m) {
  if (const auto* u = std::get_if<UserId>(&p)) return m.users.contains(*u);
  return m.groups.contains(std::get<GroupId>(p));
}

AuthorityMap build_authority(const AuthorityRound& m, const UserId& root_user_id) {
  AuthorityMap a = seed_authority(root_user_id);
  for (const auto& [id, grant] : m.grants) a[grant->grantee].add_grant(grant->permission);
  // Rights flow down memberships, nested groups included, until a whole sweep adds nothing.
  bool changed = true;
  while (changed) {
    changed = false;
    for (const auto& [id, membership] : m.memberships) {
      const PrincipalRefV1 group_key(membership->group_id);
      auto g = a.find(group_key);
      if (g == a.end() || membership->member == group_key) continue;  // a group adds nothing to itself
      changed |= a[membership->member].inherit(g->second);
    }
  }
  return a;
}

struct Fixpoint {
  AuthorityRound round;
  AuthorityMap authority;
  bool converged = false;
};

Fixpoint run_fixpoint(const PrincipalIndex& index, const RootIdentity& root, const std::set<UserId>& entry_users,
                      const std::set<HashValue>& admitted) {
  Fixpoint prev{AuthorityRound{}, seed_authority(root.user_id), false};
  for (int d = 0; d < 64; ++d) {
    AuthorityRound m = authority_round(index, root, entry_users, admitted, prev.authority);
    AuthorityMap a = build_authority(m, root.user_id);
    if (m == prev.round && a == prev.authority) return Fixpoint{std::move(m), std::move(a), true};
    prev.round = std::move(m);
    prev.authority = std::move(a);
  }
  return prev;
}

VaultState assemble(const RootIdentity& root, std::span<const EffectiveRecord> records, Fixpoint f,
                    const RolledBackMap& rolled_back) {
  VaultState s;
  s.root_user_id = root.user_id;
  s.root_key_id = root.key_id;
  s.invalid = !f.converged;
  ConflictMap conflicts = std::move(f.round.conflicts);

  // Handles and entry points: resolved over the records that are not rolled back.
  std::vector<const EffectiveRecord*> handles, vault_handles, entries;
  for (const EffectiveRecord& r : records) {
    if (is_rolled_back(rolled_back, r.key)) continue;
    switch (r.body().kind()) {
      case RecordBodyV1::UserHandle: handles.push_back(&r); break;
      case RecordBodyV1::VaultHandle: vault_handles.push_back(&r); break;
      case RecordBodyV1::EntryPoint: entries.push_back(&r); break;
      default: break;
    }
  }
  const auto& users = f.round.users;
  for (const Group& g : group_by_entity(std::move(handles))) {
    resolve(
        g,
        [&](const EffectiveRecord& r) {
          return permissions_of(f.authority, r.signer).admin && users.contains(std::get<UserHandleRecordV1>(r.body()).user_id);
        },
        [&](const EffectiveRecord& r) {
          const auto& b = std::get<UserHandleRecordV1>(r.body());
          s.user_handles.emplace(b.handle_id, r.record.share(b));
        },
        conflicts);
  }
  for (const Group& g : group_by_entity(std::move(vault_handles))) {
    resolve(
        g, [&](const EffectiveRecord& r) { return permissions_of(f.authority, r.signer).admin; },
        [&](const EffectiveRecord& r) {
          const auto& b = std::get<VaultHandleRecordV1>(r.body());
          s.vault_handles.emplace(b.handle_id, r.record.share(b));
        },
        conflicts);
  }
  for (const Group& g : group_by_entity(std::move(entries))) {
    resolve(
        g, [&](const EffectiveRecord& r) { return users.contains(std::get<entity::EntryPoint>(r.key).user_id); },
        [&](const EffectiveRecord& r) {
          s.entry_points.emplace(std::get<entity::EntryPoint>(r.key).user_id,
                                 r.record.share(std::get<EntryPointRecordV1>(r.body())));
        },
        conflicts);
  }

  if (!conflicts.empty()) {
    std::map<HashValue, const EffectiveRecord*> by_hash;
    for (const EffectiveRecord& r : records) by_hash.emplace(r.hash, &r);
    for (const auto& [key, entry] : conflicts) s.unresolved.emplace(key, entity_heads(key, entry, by_hash));
  }
  static_cast<PrincipalMaps&>(s) = std::move(static_cast<PrincipalMaps&>(f.round));
  s.authority = std::move(f.authority);
  return s;
}

}  // namespace

std::optional<ConflictEntry> conflict_among(std::span<const EffectiveRecord* const> records) {
  const RecordBodyV1& first = records.front()->body();
  if (std::all_of(records.begin(), records.end(), [&](const EffectiveRecord* r) { return r->body() == first; }))
    return std::nullopt;
  ConflictEntry entry;
  entry.counter = first.counter();
  for (const EffectiveRecord* r : records) entry.hashes.push_back(r->hash);
  std::sort(entry.hashes.begin(), entry.hashes.end());
  entry.hashes.erase(std::unique(entry.hashes.begin(), entry.hashes.end()), entry.hashes.end());
  return entry;
}

std::set<UserId> entry_point_users(std::span<const EffectiveRecord> records, const RolledBackMap& rolled_back) {
  std::vector<UserId> ids;
  for (const EffectiveRecord& r : records) {
    const auto* key = std::get_if<entity::EntryPoint>(&r.key);
    if (key == nullptr || r.body().kind() != RecordBodyV1::EntryPoint || is_rolled_back(rolled_back, r.key)) continue;
    ids.push_back(key->user_id);
  }
  return sorted_set(std::move(ids));
}

std::set<UserId> entry_point_signers(std::span<const EffectiveRecord> records) {
  std::vector<UserId> ids;
  for (const EffectiveRecord& r : records) {
    if (r.body().kind() == RecordBodyV1::EntryPoint) ids.push_back(r.signer);
  }
  return sorted_set(std::move(ids));
}

VerifiedHashes record_hash_set(std::span<const EffectiveRecord> records) {
  std::vector<HashValue> hashes;
  hashes.reserve(records.size());
  for (const EffectiveRecord& r : records) hashes.push_back(r.hash);
  return VerifiedHashes(std::move(hashes));
}

std::vector<const EffectiveRecord*> sort_record_refs(std::span<const EffectiveRecord> records) {
  std::vector<const EffectiveRecord*> out;
  for (const EffectiveRecord& r : records) {
    const auto kind = r.body().kind();
    if (kind == RecordBodyV1::UserDeleted || kind == RecordBodyV1::GroupDeleted || kind == RecordBodyV1::GrantDeleted)
      out.push_back(&r);
  }
  return out;
}

PrincipalIndex::PrincipalIndex(std::span<const EffectiveRecord> records, const RolledBackMap& rolled_back) {
  std::vector<const EffectiveRecord*> per_pass[4];
  for (const EffectiveRecord& r : records) {
    if (is_rolled_back(rolled_back, r.key)) continue;
    int pass = -1;
    switch (r.body().kind()) {
      case RecordBodyV1::User:
      case RecordBodyV1::UserDeleted: pass = 0; break;
      case RecordBodyV1::Group:
      case RecordBodyV1::GroupDeleted: pass = 1; break;
      case RecordBodyV1::GroupMember:
      case RecordBodyV1::GroupMemberDeleted: pass = 2; break;
      case RecordBodyV1::Grant:
      case RecordBodyV1::GrantDeleted: pass = 3; break;
      default: break;  // secrets, handles, entry points and the root take no part in a round
    }
    if (pass >= 0) per_pass[pass].push_back(&r);
  }
  for (int i = 0; i < 4; ++i) groups_[i] = group_by_entity(std::move(per_pass[i]));
}

AuthorityRound authority_round(const PrincipalIndex& index, const RootIdentity& root,
                               const std::set<UserId>& entry_users, const std::set<HashValue>& admitted,
                               const AuthorityMap& previous) {
  AuthorityRound m;
  m.users.emplace(root.user_id, RecordPart<UserRecordV1>::made(
                                    UserRecordV1{root.user_id, root.signing_public_key, root.hpke_public_key, 0}));

  for (const Group& g : index.users()) {
    resolve(
        g,
        [&](const EffectiveRecord& r) {
          if (const auto* u = std::get_if<UserRecordV1>(&r.body())) {
            return u->user_id != root.user_id && permissions_of(previous, r.signer).admin;
          }
          const auto& d = std::get<UserDeletedRecordV1>(r.body());
          return d.user_id != root.user_id && admitted.contains(r.hash);
        },
        [&](const EffectiveRecord& r) {
          if (const auto* u = std::get_if<UserRecordV1>(&r.body())) {
            if (entry_users.contains(u->user_id)) m.users.emplace(u->user_id, r.record.share(*u));
          } else {
            m.deleted_users.insert(std::get<UserDeletedRecordV1>(r.body()).user_id);
          }
        },
        m.conflicts);
  }
  for (const Group& g : index.groups()) {
    resolve(
        g,
        [&](const EffectiveRecord& r) {
          if (std::holds_alternative<GroupRecordV1>(r.body())) return permissions_of(previous, r.signer).admin;
          return admitted.contains(r.hash);
        },
        [&](const EffectiveRecord& r) {
          if (const auto* grp = std::get_if<GroupRecordV1>(&r.body())) {
            m.groups.emplace(grp->group_id, r.record.share(*grp));
          } else {
            m.deleted_groups.insert(std::get<GroupDeletedRecordV1>(r.body()).group_id);
          }
        },
        m.conflicts);
  }
  for (const Group& g : index.memberships()) {
    resolve(
        g,
        [&](const EffectiveRecord& r) {
          if (!permissions_of(previous, r.signer).admin) return false;
          if (const auto* gm = std::get_if<GroupMemberRecordV1>(&r.body())) {
            return m.groups.contains(gm->group_id) && principal_exists(gm->member, m);
          }
          return true;
        },
        [&](const EffectiveRecord& r) {
          if (const auto* gm = std::get_if<GroupMemberRecordV1>(&r.body()))
            m.memberships.emplace(gm->group_member_id, r.record.share(*gm));
        },
        m.conflicts);
  }
  for (const Group& g : index.grants()) {
    resolve(
        g,
        [&](const EffectiveRecord& r) {
          if (const auto* grant = std::get_if<GrantRecordV1>(&r.body())) {
            if (!principal_exists(grant->grantee, m)) return false;
            return permissions_of(previous, r.signer).may_grant(grant->permission);
          }
          return admitted.contains(r.hash);
        },
        [&](const EffectiveRecord& r) {
          if (const auto* grant = std::get_if<GrantRecordV1>(&r.body())) {
            m.grants.emplace(grant->grant_id, r.record.share(*grant));
          } else {
            m.deleted_grants.insert(std::get<GrantDeletedRecordV1>(r.body()).grant_id);
          }
        },
        m.conflicts);
  }
  return m;
}

AuthorityMap seed_authority(const UserId& root_user_id) {
  AuthorityMap a;
  a.emplace(PrincipalRefV1(root_user_id), Permissions::full());
  return a;
}

UnresolvedEntry entity_heads(const EntityKey& key, const ConflictEntry& conflict,
                             const std::map<HashValue, const EffectiveRecord*>& by_hash) {
  UnresolvedEntry entry;
  entry.key = key;
  entry.counter = conflict.counter;
  std::vector<const VaultRecordV1*> found;
  for (const HashValue& h : conflict.hashes) {
    if (auto it = by_hash.find(h); it != by_hash.end()) found.push_back(&it->second->record);
  }
  std::sort(found.begin(), found.end(), [](const VaultRecordV1* a, const VaultRecordV1* b) {
    return cord::bytes_less(a->encoding(), b->encoding());
  });
  for (const VaultRecordV1* r : found) {
    if (!entry.candidates.empty() && entry.candidates.back() == *r) continue;
    entry.candidates.push_back(*r);
  }
  return entry;
}

AuthorityPassResult authority_pass(const RootIdentity& root, std::span<const EffectiveRecord> records,
                                   const RolledBackMap& rolled_back) {
  const PrincipalIndex index(records, rolled_back);
  const std::set<UserId> entry_users = entry_point_users(records, rolled_back);
  std::vector<const EffectiveRecord*> candidates = sort_record_refs(records);
  std::sort(candidates.begin(), candidates.end(),
            [](const EffectiveRecord* a, const EffectiveRecord* b) { return cmp(*a, *b) < 0; });

  std::set<HashValue> admitted;
  for (;;) {
    Fixpoint f = run_fixpoint(index, root, entry_users, admitted);
    const EffectiveRecord* next = nullptr;
    for (const EffectiveRecord* c : candidates) {
      if (admitted.contains(c->hash)) continue;
      const Permissions& p = permissions_of(f.authority, c->signer);
      bool ok;
      if (const auto* gd = std::get_if<GrantDeletedRecordV1>(&c->body())) {
        ok = p.may_grant(gd->permission);
        if (ok) {
          if (auto it = f.round.grants.find(gd->grant_id); it != f.round.grants.end()) {
            ok = p.may_grant(it->second->permission);
          }
        }
      } else {
        ok = p.admin;
      }
      if (ok) {
        next = c;
        break;
      }
    }
    if (next == nullptr) return AuthorityPassResult{assemble(root, records, std::move(f), rolled_back), std::move(admitted)};
    admitted.insert(next->hash);
  }
}

}  // namespace ostrel::validate
