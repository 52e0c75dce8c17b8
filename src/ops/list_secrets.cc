#include "ops/list_secrets.h"

#include <optional>

namespace ostrel::ops {

std::vector<core::SecretSelectorV1> list_secrets(const VaultSession& session, const core::SecretSelectorV1* filter) {
  std::optional<core::SecretSelectorV1> query;
  if (filter != nullptr) {
    query = *filter;
    core::SecretSelectorV1::normalise_caller_texts(*query);
  }
  std::vector<core::SecretSelectorV1> out;
  for (const validate::SecretEntry& entry : session.state().list_secrets()) {
    const core::SecretSelectorV1& selector = entry.secret().selector;
    if (!query || validate::listing_matches(selector, *query)) out.push_back(selector);
  }
  return out;
}

}  // namespace ostrel::ops
