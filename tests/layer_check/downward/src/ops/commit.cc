#include "ops/commit.h"
#include "cord/text.h"
#include "core/validate/state.h"
