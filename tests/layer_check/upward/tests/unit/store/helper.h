#include "keychain/files.h"
