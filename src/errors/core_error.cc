#include "errors/core_error.h"

namespace ostrel {

std::string CoreError::message() const {
  if (kind() == Cord) return "cord error: " + cord_error().message();
  return "validation failed: " + validation_message();
}

}  // namespace ostrel
