// Counters, heads and rollback detection: the ratchet view a vault offers, which entities it
// rolled back below what was remembered, and which secrets have competing current records.
// Pure functions of their arguments; safe from any thread.
#pragma once

#include <map>
#include <set>
#include <span>

#include "core/validate/authority.h"
#include "core/validate/state.h"

namespace ostrel::validate {

struct RatchetState;

// The ratchet view, and the secret records that counted for it.
struct CountedRecords {
  RatchetView view;
  // Exactly secret_writes(records, first_pass.authority), in its order: a secret record counts
  // when its signer may write its selector. Points into `records`.
  std::vector<const EffectiveRecord*> secret_writes;
};

// Per entity, the highest counter of the records that count (judged by the first authority
// pass) and their binding.
CountedRecords derive_ratchet_view(std::span<const EffectiveRecord> records, const VaultState& first_pass,
                                   const std::set<HashValue>& admitted_deletions);

// Every remembered entity whose counter in the view is lower (0 when absent), with the
// remembered counter.
RolledBackMap rolled_back_entities(const RatchetView& view, const RatchetState& remembered);

// The secrets whose records at their top counter (among writers' records, not rolled back)
// disagree. `writes` is secret_writes of the records under the second pass's authority.
ConflictMap latest_secret_records(std::span<const EffectiveRecord* const> writes, const RolledBackMap& rolled_back);

// One unresolved entry per conflict, candidates in encoding order.
std::map<EntityKey, UnresolvedEntry> build_heads(std::span<const EffectiveRecord> records, const ConflictMap& conflicts);

// One unresolved entry per rolled-back entity: its records at its current counter, and its
// binding (the view's, else the remembered one).
std::map<EntityKey, UnresolvedEntry> rolled_back_entries(std::span<const EffectiveRecord> records,
                                                         const RolledBackMap& rolled_back, const RatchetView& view,
                                                         const RatchetState& remembered);

// What the state advances the remembered ratchet by: counters above the remembered ones and
// bindings not yet remembered. Consumes the view: its entries move into the delta.
RatchetView ratchet_delta(RatchetView&& view, const RatchetState& remembered);

}  // namespace ostrel::validate
