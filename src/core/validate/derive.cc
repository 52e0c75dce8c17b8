#include "core/validate/derive.h"

#include <algorithm>
#include <map>
#include <variant>
#include <unordered_set>

#include "core/ids.h"
#include "core/record_check.h"
#include "core/validate/counters.h"
#include "core/validate/signer_chain.h"
#include "core/validate/trust.h"
#include "errors/try.h"

namespace ostrel::validate {

using namespace core;

namespace {

VaultState empty_invalid(core::ValidationIssue issue) {
  VaultState s;
  s.invalid = true;
  s.issues.push_back(std::move(issue));
  return s;
}

// What steps 1-6 make of the records: the trusted root, the records that take effect and the
// issues met; or the state that ends the derivation there (no single trusted root). The work
// list and the signature memo live only as long as these steps.
struct Judged {
  RootIdentity root;
  std::vector<EffectiveRecord> effective;
  std::vector<core::ValidationIssue> issues;
};
CoreResult<std::variant<Judged, VaultState>> judge_records(std::span<const VaultRecordV1> records,
                                                          const RatchetState& remembered,
                                                          const VerifiedHashes& verified) {
  // 1. Record hashes, duplicates dropped, in the set's order. Records read from a file stand in
  // strictly ascending encoding order and so hold no record twice; only another order needs the
  // seen-set, whose entries are views of the work list's own (reserved, so never moved) hashes.
  std::vector<HashedRecord> work;
  work.reserve(records.size());
  const bool ascending = std::adjacent_find(records.begin(), records.end(), [](const VaultRecordV1& a, const VaultRecordV1& b) {
                           return !cord::bytes_less(a.encoding(), b.encoding());
                         }) == records.end();
  struct ViewHash {
    std::size_t operator()(cord::ByteView v) const { return platform::hash_bytes(v); }
  };
  struct ViewEq {
    bool operator()(cord::ByteView a, cord::ByteView b) const { return std::ranges::equal(a, b); }
  };
  std::unordered_set<cord::ByteView, ViewHash, ViewEq> seen;
  if (!ascending) seen.reserve(records.size());
  for (const VaultRecordV1& r : records) {
    if (r.encoding().empty()) {
      OSTREL_TRY(cord::to_vec(r));
    }
    work.push_back(HashedRecord{&r, record_hash(r)});
    if (!ascending && !seen.insert(work.back().hash.bytes).second) work.pop_back();
  }
  SignatureMemo memo(work, verified);

  // 2. The remembered root must be the vault's only self-signed root.
  OSTREL_TRY_ASSIGN(auto search, search_trusted_root(work, remembered.trusted_root, verified));
  if (!search) return empty_invalid(std::move(search).error());
  Judged judged{std::move(*search), {}, {}};
  const RootIdentity& root = judged.root;

  // 3. Signer chain; 4. entry-point users; 5. the signer map.
  const auto owners = signer_chain(work, root, memo);
  std::set<UserId> entry_users;
  for (std::size_t i = 0; i < work.size(); ++i) {
    const RecordBodyV1* body = work[i].record->known_body();
    const auto* ep = body ? std::get_if<EntryPointRecordV1>(body) : nullptr;
    if (ep == nullptr || ep->user_id != root.user_id || !memo.valid(i)) continue;
    OSTREL_TRY_ASSIGN(auto id, core::user_id_from_public_keys(work[i].record->signing_public_key(), ep->entry));
    entry_users.insert(std::move(id));
  }
  std::map<cord::ByteString, UserId> signer_map{{root.signing_public_key, root.user_id}};
  std::set<cord::ByteString> ambiguous;
  for (const auto& [key, users] : owners) {
    if (key == root.signing_public_key) continue;  // the root's key stays the root's
    if (users.size() == 1) {
      signer_map.emplace(key, *users.begin());
      continue;
    }
    const UserId* chosen = nullptr;
    std::size_t with_entry = 0;
    for (const UserId& u : users) {
      if (entry_users.contains(u)) {
        ++with_entry;
        chosen = &u;
      }
    }
    if (with_entry == 1) {
      signer_map.emplace(key, *chosen);
    } else {
      ambiguous.insert(key);
    }
  }

  // 6. Per-record checks.
  std::vector<EffectiveRecord>& effective = judged.effective;
  effective.reserve(static_cast<std::size_t>(std::count_if(
      work.begin(), work.end(), [](const HashedRecord& h) { return h.record->known_body() != nullptr; })));
  for (std::size_t i = 0; i < work.size(); ++i) {
    const VaultRecordV1& r = *work[i].record;
    const RecordBodyV1* body = r.known_body();
    if (body == nullptr) continue;  // a later version's record: kept in the file, not judged
    if (auto c = check_structure(r, *body, root.user_id); !c) {
      judged.issues.push_back(std::move(c).error());
      continue;
    }
    if (ambiguous.contains(r.signing_public_key())) continue;
    auto signer = signer_map.find(r.signing_public_key());
    if (signer == signer_map.end()) {
      OSTREL_TRY_ASSIGN(auto kid, key_id(r.signing_public_key()));
      judged.issues.push_back(core::ValidationIssue::unknown_signer_key(std::move(kid)));
      continue;
    }
    EntityKey key = body->record_key(signer->second);
    if (!memo.valid(i)) {
      judged.issues.push_back(core::ValidationIssue::invalid_signature(std::move(key)));
      continue;
    }
    effective.push_back(EffectiveRecord{std::move(key), r, work[i].hash, signer->second});
  }

  return judged;
}

}  // namespace

CoreResult<VaultState> build_state(std::span<const VaultRecordV1> records, const RatchetState& remembered,
                                   const VerifiedHashes& verified) {
  OSTREL_TRY_ASSIGN(auto judgement, judge_records(records, remembered, verified));
  if (auto* ended = std::get_if<VaultState>(&judgement)) return std::move(*ended);
  Judged judged = std::move(std::get<Judged>(judgement));
  const RootIdentity& root = judged.root;
  std::vector<EffectiveRecord>& effective = judged.effective;

  // 7-9. First authority pass, the ratchet view, the rollback comparison.
  AuthorityPassResult first = authority_pass(root, effective, {});
  CountedRecords counted = derive_ratchet_view(effective, first.state, first.admitted_deletions);
  RatchetView view = std::move(counted.view);
  const RolledBackMap rolled_back = rolled_back_entities(view, remembered);

  // 10. Second pass, with rolled-back entities left out: with none, it is the first pass again,
  // and the writers' secret records are those the view counted.
  const bool second_is_first = rolled_back.empty();
  VaultState state = second_is_first ? std::move(first.state) : authority_pass(root, effective, rolled_back).state;
  state.issues = std::move(judged.issues);
  if (state.invalid) state.issues.push_back(core::ValidationIssue::authority_did_not_converge());

  // The writers' secret records, found once for the conflicts and the secret index. The records
  // move with their vector's storage, so pointers into it stay good.
  state.records = std::move(effective);
  const std::vector<const EffectiveRecord*> writes =
      second_is_first ? std::move(counted.secret_writes) : secret_writes(state.records, state.authority);

  // 11-12. Secret conflicts, then rolled-back entities, each replacing an entry of its key.
  for (auto& [key, entry] : build_heads(state.records, latest_secret_records(writes, rolled_back)))
    state.unresolved.insert_or_assign(key, std::move(entry));
  for (auto& [key, entry] : rolled_back_entries(state.records, rolled_back, view, remembered))
    state.unresolved.insert_or_assign(key, std::move(entry));

  // 13-15. Highest counter, the secret index, the ratchet delta.
  for (const auto& [key, c] : view.counters) state.max_counter = std::max(state.max_counter.value_or(0), c);
  state.index_records(writes);
  state.ratchet = ratchet_delta(std::move(view), remembered);
  return state;
}

CoreResult<VaultState> derive_state(std::span<const VaultRecordV1> records, const RatchetState& remembered,
                                    const VerifiedHashes& verified) {
  if (remembered.format_version > kFormatVersion) {
    return empty_invalid(core::ValidationIssue::format_version_regression(remembered.format_version, kFormatVersion));
  }
  auto state = build_state(records, remembered, verified);
  if (state && remembered.format_version == 0 && state->issues.empty()) state->ratchet.format_version = kFormatVersion;
  return state;
}

CoreResult<VaultState> derive_state_fresh(std::span<const VaultRecordV1> records, const RatchetState& remembered) {
  static const VerifiedHashes kNone;
  return derive_state(records, remembered, kNone);
}

}  // namespace ostrel::validate
