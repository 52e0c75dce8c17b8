#include "cord/text.h"
