#include "core/validate/seal_readers.h"

namespace ostrel::validate {

core::SealRecipients seal_recipients(const VaultState& state, const core::SecretSelectorV1& selector) {
  core::SealRecipients to;
  to.root_key_id = state.root_key_id;
  for (const UserId& id : state.readers_of(selector)) {
    core::SealReader reader{id, std::nullopt};
    if (auto it = state.users.find(id); it != state.users.end()) reader.hpke_public_key = it->second->hpke_public_key;
    to.readers.push_back(std::move(reader));
  }
  return to;
}

OpsResult<core::SealedPayloadV1> seal_for_state(const VaultState& state, const core::SecretWriteContext& context,
                                                const core::SecretValueV1& value) {
  return core::SealedPayloadV1::seal(seal_recipients(state, context.selector), context, value);
}

}  // namespace ostrel::validate
