// How a structure check turns an encoding failure into an issue, exposed for tests. Pure
// function; safe from any thread.
#pragma once

#include "core/record_check.h"

namespace ostrel::core {

// InvalidStructure carrying the error's display text.
ValidationIssue to_invalid_structure(const CoreError& error);

}  // namespace ostrel::core
