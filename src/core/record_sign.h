// Signing record bodies, and the two record makers the system itself uses (a secret's value and
// a secret's deletion). Pure functions of their arguments; safe from any thread.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "crypto/identity.h"
#include "errors/record_error.h"

namespace ostrel::core {

inline constexpr std::string_view kRecordSignaturePurpose = crypto::kSignedRecordPurpose;

// The bytes of a body's evolving slot (length, then payload): what record signatures cover.
CoreResult<cord::Buffer> to_vec_evolving32(const EvolvingBody& body);

// The identity's stored user id must be the one its keys give (else SignerMismatch).
RecordResult<void> check_author(const crypto::Identity& author);

// Checks the identity's user id against its keys, then signs the body (known or raw) with it.
RecordResult<VaultRecordV1> sign_record(const crypto::Identity& author, EvolvingBody body);

}  // namespace ostrel::core
