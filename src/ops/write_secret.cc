#include "ops/write_secret.h"

#include <algorithm>
#include <utility>

#include "core/ids.h"
#include "core/record_sign.h"
#include "core/validate/seal_readers.h"
#include "errors/try.h"

namespace ostrel::ops {

OpsResult<void> check_writable(const validate::VaultState& state, const core::SecretSelectorV1& selector,
                               const crypto::Identity& identity) {
  if (!state.users.contains(identity.user_id)) return std::unexpected(OpsError::writer_missing(identity.user_id));
  if (state.invalid || !state.permissions_of(identity.user_id).can_write(selector)) {
    return std::unexpected(OpsError(OpsError::NotWritable));
  }
  return {};
}

OpsResult<std::uint64_t> next_record_counter(const validate::VaultState& state) {
  const std::uint64_t counter =
      std::max({state.next_counter(), state.next_counter_after_unresolved(), std::uint64_t{1}});
  if (counter > kMaxRecordCounter) return std::unexpected(OpsError(OpsError::CounterExhausted));
  return counter;
}

namespace {

// Steps shared by both record kinds once the signed record exists: its hash, and its place in
// the candidate set.
OpsResult<CandidateRecord> add_candidate(core::VaultRecordV1 record, const SecretId& secret_id,
                                         const core::SecretSelectorV1& selector,
                                         std::optional<core::SealedPayloadV1> payload,
                                         store::VaultRecords& candidate) {
  if (record.encoding().empty()) {
    // Only a record too long for the encoding has none; encoding it again names the fault.
    auto encoded = cord::to_vec(record);
    return std::unexpected(OpsError(CoreError(encoded ? cord::Error(cord::Error::Overflow) : encoded.error())));
  }
  CandidateRecord out{secret_id, selector, std::move(payload), core::record_hash(record)};
  candidate.insert(std::move(record));
  return out;
}

}  // namespace

OpsResult<CandidateRecord> build_secret_value_record(const crypto::Identity& identity, const SecretId& secret_id,
                                                     const core::SecretSelectorV1& selector,
                                                     const core::SecretValueV1& value, store::VaultRecords& candidate,
                                                     const validate::VaultState& state) {
  OSTREL_TRY_ASSIGN(const std::uint64_t counter, next_record_counter(state));
  const core::SecretWriteContext context{core::EntityKey(core::entity::Secret{secret_id}),
                                         cord::ByteString(identity.signing_public_key), secret_id, selector,
                                         counter};
  OSTREL_TRY_ASSIGN(core::SealedPayloadV1 payload, validate::seal_for_state(state, context, value));
  auto record = core::SecretRecordV1::create_signed(identity, selector, payload, counter);
  if (!record) return std::unexpected(OpsError(std::move(record).error()));
  return add_candidate(std::move(*record), secret_id, selector, std::move(payload), candidate);
}

OpsResult<CandidateRecord> build_secret_deletion_record(const crypto::Identity& identity, const SecretId& secret_id,
                                                        const core::SecretSelectorV1& selector,
                                                        store::VaultRecords& candidate,
                                                        const validate::VaultState& state) {
  OSTREL_TRY_ASSIGN(const std::uint64_t counter, next_record_counter(state));
  auto record = core::SecretDeletedRecordV1::create_signed(identity, selector, counter);
  if (!record) return std::unexpected(OpsError(std::move(record).error()));
  return add_candidate(std::move(*record), secret_id, selector, std::nullopt, candidate);
}

}  // namespace ostrel::ops
