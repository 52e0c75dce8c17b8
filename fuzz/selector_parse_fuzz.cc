// Property of the selector grammar: any text either fails with the invalid-selector error naming
// that very text, or parses to a selector whose canonical text parses back to the same selector
// and formats to the same text again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "frontend/selector/grammar.h"

using namespace ostrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto first = frontend::selector::parse(text);
  if (!first) {
    if (first.error().kind() != FrontendError::InvalidSelector || first.error().selector_text() != text) std::abort();
    return 0;
  }
  const std::string canonical = frontend::selector::format(*first);
  auto second = frontend::selector::parse(canonical);
  if (!second || !(*second == *first)) std::abort();
  if (frontend::selector::format(*second) != canonical) std::abort();
  return 0;
}
