#include "errors/frontend_error.h"

#include "errors/text_form.h"

namespace ostrel {

std::string FrontendError::message() const {
  switch (kind_) {
    case InvalidSelector: return "invalid selector " + text::quoted(selector_text()) + ": " + selector_message();
    case InvalidHex: return "invalid " + label() + " hex: " + reason();
  }
  return "front-end error";
}

}  // namespace ostrel
