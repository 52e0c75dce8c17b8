// How an atomic write names its temporary file, exposed for tests. Safe from any thread.
#pragma once

#include <filesystem>

#include "store/io.h"

namespace ostrel::store {

// A fresh sibling of `target`: "." + the target's name (or "ostrel-write" when the name is not
// UTF-8) + ".tmp." + 32 random lower-case hex digits.
std::filesystem::path temp_path_for(const std::filesystem::path& target);

}  // namespace ostrel::store
