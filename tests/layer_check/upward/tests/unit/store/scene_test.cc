#include "unit/ops/scene.h"
