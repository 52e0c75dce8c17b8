#include "cord/text.h"
#include "ops/commit.h"
