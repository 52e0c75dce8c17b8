#include "errors/frontend_error.h"

namespace ostrel {

std::string FrontendError::message() const {
  switch (kind_) {
    case InvalidHex: return "invalid " + label() + " hex: " + reason();
  }
  return "front-end error";
}

}  // namespace ostrel
