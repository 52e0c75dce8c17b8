#include "errors/identifiers.h"

#include "errors/text_form.h"

namespace ostrel {

std::string HashValue::debug() const { return "HashValue(" + errors::decimal_bytes(bytes) + ")"; }

std::string IdSeed::debug() const { return "IdSeed(" + errors::decimal_bytes(bytes) + ")"; }

}  // namespace ostrel
