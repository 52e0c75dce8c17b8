// Sorting effective records by entity: EntityKey's order, decided mostly on a number (the key's
// variant index and the id's leading bytes) so that sorting every record of a vault rarely
// compares whole keys. Templates only; safe from any thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/validate/state.h"

namespace ostrel::validate {

// `records` ordered by entity key, and by `then` (a strict weak order) among one entity's.
template <class Then>
void sort_by_entity(std::vector<const EffectiveRecord*>& records, Then then) {
  struct Keyed {
    std::uint64_t prefix;
    const EffectiveRecord* record;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(records.size());
  for (const EffectiveRecord* r : records) keyed.push_back(Keyed{r->key.order_prefix(), r});
  std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    if (auto c = a.record->key <=> b.record->key; c != 0) return c < 0;
    return then(*a.record, *b.record);
  });
  for (std::size_t i = 0; i < keyed.size(); ++i) records[i] = keyed[i].record;
}

}  // namespace ostrel::validate
