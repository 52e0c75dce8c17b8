// The structural containment of keyspaces behind may_grant, exposed for tests. Pure function;
// safe from any thread.
#pragma once

#include "core/validate/permissions.h"

namespace ostrel::validate {

// Whether `contained` names no secret address outside `container` (a structural test).
bool covers(const KeyspaceSelectorV1& container, const KeyspaceSelectorV1& contained);

}  // namespace ostrel::validate
