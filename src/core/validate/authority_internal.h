// Steps of the authority pass, exposed for tests: which entry points count, and which records
// are deletions to admit. Pure functions; safe from any thread.
#pragma once

#include "core/validate/authority.h"

namespace ostrel::validate {

// Users of the EntryPoint records whose entity is not rolled back, from their entity keys.
std::set<UserId> entry_point_users(std::span<const EffectiveRecord> records, const RolledBackMap& rolled_back);
// References to the UserDeleted, GroupDeleted and GrantDeleted records, in record order.
std::vector<const EffectiveRecord*> sort_record_refs(std::span<const EffectiveRecord> records);

}  // namespace ostrel::validate
