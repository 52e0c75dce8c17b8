#include "ops/read_secret.h"

#include "cord/text.h"
#include "errors/try.h"

namespace ostrel::ops {

OpsResult<core::SecretRead> read_secret(const VaultSession& session, const core::SecretSelectorV1& selector) {
  return read_secret(session.state(), session.identity, selector);
}

OpsResult<core::SecretRead> read_secret(const validate::VaultState& state, const crypto::Identity& identity,
                                        const core::SecretSelectorV1& selector) {
  using validate::SecretStatus;
  switch (const SecretStatus status = state.secret_status(selector, identity.user_id)) {
    case SecretStatus::ActiveDecryptable: return open_secret(state, identity, selector);
    case SecretStatus::Missing: return std::unexpected(OpsError(OpsError::SecretMissing));
    case SecretStatus::Conflicted: return std::unexpected(OpsError(OpsError::SecretConflicted));
    case SecretStatus::NotEncryptedForReader:
    case SecretStatus::Unauthorized:
    case SecretStatus::Invalid: return std::unexpected(OpsError::not_decryptable(status));
  }
  return std::unexpected(OpsError::not_decryptable(SecretStatus::Invalid));
}

OpsResult<core::SecretRead> open_secret(const validate::VaultState& state, const crypto::Identity& identity,
                                        const core::SecretSelectorV1& selector) {
  OSTREL_TRY_ASSIGN(auto entry, state.secret_record(selector));
  if (!entry) return std::unexpected(OpsError(OpsError::SecretMissing));
  if (!state.root_key_id) return std::unexpected(OpsError::missing_effective_root());
  const validate::SecretEntry& current = *entry;
  return core::SealedPayloadV1::open(identity, current.record, current.secret(), *state.root_key_id);
}

std::string caller_field_key(std::string_view key) {
  return cord::caller_text_needs_nfc(key) ? std::string(cord::nfc(key).view()) : std::string(key);
}

const core::SecretFieldEntryV1* find_field(const core::SecretRead& read, std::string_view caller_key) {
  return read.field(caller_field_key(caller_key));
}

}  // namespace ostrel::ops
