#include "errors/record_error.h"

namespace ostrel {

std::string RecordError::message() const {
  if (kind() == SignerMismatch) return "signer identity does not match signing public key";
  return "core error: " + core_error().message();
}

}  // namespace ostrel
