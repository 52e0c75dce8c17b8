#include "platform/secret.h"
