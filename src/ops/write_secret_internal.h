// The steps of a secret write (the write check, the next counter, building the record), exposed
// for tests. Safe from any thread.
#pragma once

#include <cstdint>
#include <optional>

#include "ops/write_secret.h"

namespace ostrel::ops {

// A record built for the candidate set (it is already inserted there).
struct CandidateRecord {
  SecretId secret_id;
  core::SecretSelectorV1 selector;
  std::optional<core::SealedPayloadV1> payload;
  HashValue record_hash;
};

// The identity must be a user of `state` (else WriterMissing), the state not invalid and the
// user's rights must let it write `selector` (else NotWritable). set_secret and delete_secret run
// it on the session's state before any lock is taken; field edits on the refreshed state.
OpsResult<void> check_writable(const validate::VaultState& state, const core::SecretSelectorV1& selector,
                               const crypto::Identity& identity);

// The counter of a new record: above the state's highest counter and above every counter
// remembered for an unresolved entity, and never 0 (an entity at 0 is never remembered by the
// ratchet). Above kMaxRecordCounter: CounterExhausted.
OpsResult<std::uint64_t> next_record_counter(const validate::VaultState& state);

// Build, sign, hash and insert into `candidate` one value record (sealed to every reader of the
// selector in `state`) or deletion record; it comes last in `candidate`.
OpsResult<CandidateRecord> build_secret_value_record(const crypto::Identity& identity, const SecretId& secret_id,
                                                     const core::SecretSelectorV1& selector,
                                                     const core::SecretValueV1& value, store::VaultRecords& candidate,
                                                     const validate::VaultState& state);
OpsResult<CandidateRecord> build_secret_deletion_record(const crypto::Identity& identity, const SecretId& secret_id,
                                                        const core::SecretSelectorV1& selector,
                                                        store::VaultRecords& candidate,
                                                        const validate::VaultState& state);

}  // namespace ostrel::ops
