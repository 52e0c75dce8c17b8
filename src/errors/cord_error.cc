#include "errors/cord_error.h"

#include <string>

namespace ostrel::cord {
namespace {

// "{what}: {found}, expected {wanted}", the generic descriptions of a value that does not fit.
Error mismatch(std::string what, std::string_view found, std::string_view wanted) {
  what.append(found).append(", expected ").append(wanted);
  return Error::custom(what);
}

}  // namespace

Error Error::invalid_type(std::string_view found, std::string_view wanted) {
  return mismatch("invalid type: ", found, wanted);
}

Error Error::invalid_value(std::string_view found, std::string_view wanted) {
  return mismatch("invalid value: ", found, wanted);
}

Error Error::invalid_length(std::uint64_t count, std::string_view wanted) {
  return mismatch("invalid length ", std::to_string(count), wanted);
}

}  // namespace ostrel::cord
