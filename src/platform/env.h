// Environment variables and the temporary directory. Values are raw bytes, not required to be
// UTF-8. Safe from any thread as long as nothing in the process changes the environment at the
// same time (getenv has no lock against setenv).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/secret.h"

namespace ostrel::platform {

// The variable's value, or nothing when it is not set. An empty value is a value.
std::optional<std::string> env_var(const char* name);
// The same for a variable that holds a secret: the value goes straight into wiping memory, and no
// other copy is made (the environment's own stays the caller's business).
std::optional<SecretBytes> secret_env_var(const char* name);

// $TMPDIR when it is set and not empty, else /tmp.
std::filesystem::path temp_dir();

}  // namespace ostrel::platform
