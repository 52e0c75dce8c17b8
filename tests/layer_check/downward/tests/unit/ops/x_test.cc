#include "unit/keychain/alice.h"
#include "support/scratch.h"
#include "ops/commit.h"
