// Listing the secrets of a session's state: every resolved secret whose current record is a
// value, whether or not the identity may read it; nothing is decrypted. Reads the state held in
// memory only; safe from any thread on a session nobody changes meanwhile.
#pragma once

#include <vector>

#include "core/access.h"
#include "ops/session.h"

namespace ostrel::ops {

// The selectors of the listed secrets that lie under `filter` (every one without a filter), in
// the listing's order. The filter's texts are brought to NFC as a caller's selector is, so a
// filter in another normal form still finds the stored selectors.
std::vector<core::SecretSelectorV1> list_secrets(const VaultSession& session, const core::SecretSelectorV1* filter);

}  // namespace ostrel::ops
