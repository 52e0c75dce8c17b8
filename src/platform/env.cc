#include "platform/env.h"

#include <cstdlib>
#include <cstring>

namespace ostrel::platform {

std::optional<std::string> env_var(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::optional<SecretBytes> secret_env_var(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return SecretBytes::copy_of({reinterpret_cast<const std::uint8_t*>(value), std::strlen(value)});
}

std::filesystem::path temp_dir() {
  // An empty TMPDIR would make every temporary path relative to the current directory.
  auto dir = env_var("TMPDIR");
  if (dir && !dir->empty()) return std::filesystem::path(*dir);
  return std::filesystem::path("/tmp");
}

}  // namespace ostrel::platform
