// Environment variables and the temporary directory. Values are raw bytes, not required to be
// UTF-8. Safe from any thread as long as nothing in the process changes the environment at the
// same time (getenv has no lock against setenv).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace ostrel::platform {

// The variable's value, or nothing when it is not set. An empty value is a value.
std::optional<std::string> env_var(const char* name);

// $TMPDIR when it is set and not empty, else /tmp.
std::filesystem::path temp_dir();

}  // namespace ostrel::platform
