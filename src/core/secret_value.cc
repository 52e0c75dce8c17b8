#include "core/secret_value.h"

#include <algorithm>

#include "core/access.h"

namespace ostrel::core {

std::vector<const SecretFieldEntryV1*> SecretValueV1::sorted_fields() const {
  std::vector<const SecretFieldEntryV1*> out;
  out.reserve(fields.size());
  for (const auto& f : fields) out.push_back(&f);
  auto bytes = [](const cord::Buffer& b) {
    return std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
  };
  std::sort(out.begin(), out.end(), [&](const SecretFieldEntryV1* a, const SecretFieldEntryV1* b) {
    if (a->key != b->key) return text_less(a->key, b->key);
    return text_less(bytes(a->value), bytes(b->value));
  });
  return out;
}

}  // namespace ostrel::core
