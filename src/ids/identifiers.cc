#include "ids/identifiers.h"

namespace ostrel {

std::string HashValue::debug() const { return "HashValue(" + decimal_bytes(bytes) + ")"; }

std::string IdSeed::debug() const { return "IdSeed(" + decimal_bytes(bytes) + ")"; }

}  // namespace ostrel
