#include "errors/error_value.h"

#include <cstdio>
#include <cstdlib>

namespace ostrel::errors {

std::string format(std::string_view form, const Payload* payload) {
  std::string out;
  out.reserve(form.size() + 32);
  std::size_t field = 0;
  for (;;) {
    const std::size_t hole = form.find("{}");
    out += form.substr(0, hole);
    if (hole == std::string_view::npos) return out;
    if (payload != nullptr) payload->append(out, field++);
    form.remove_prefix(hole + 2);
  }
}

void missing_field(const std::type_info& type, std::size_t i) {
  // A caller read a field its kind does not carry: a fault in the caller, not a failure to report.
  std::fprintf(stderr, "ostrel: error payload has no field %zu of type %s\n", i, type.name());
  std::abort();
}

}  // namespace ostrel::errors
