#include "core/secret_value.h"

#include <algorithm>

#include "core/access.h"

namespace ostrel::core {

SecretValueV1 SecretValueV1::clone() const {
  SecretValueV1 out{value.clone(), {}};
  out.fields.items().reserve(fields.size());
  for (const SecretFieldEntryV1& f : fields) out.fields.items().push_back(f.clone());
  return out;
}

bool SecretValueV1::add_field(std::string key, platform::SecretBytes value) {
  for (const SecretFieldEntryV1& f : fields) {
    if (f.key == key && platform::constant_time_equal(f.value.span(), value.span())) return false;
  }
  fields.items().push_back(SecretFieldEntryV1{std::move(key), std::move(value)});
  return true;
}

std::vector<const SecretFieldEntryV1*> SecretValueV1::sorted_fields() const {
  std::vector<const SecretFieldEntryV1*> out;
  out.reserve(fields.size());
  for (const auto& f : fields) out.push_back(&f);
  auto bytes = [](const platform::SecretBytes& b) {
    return std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
  };
  std::sort(out.begin(), out.end(), [&](const SecretFieldEntryV1* a, const SecretFieldEntryV1* b) {
    if (a->key != b->key) return text_less(a->key, b->key);
    return text_less(bytes(a->value), bytes(b->value));
  });
  return out;
}

}  // namespace ostrel::core
