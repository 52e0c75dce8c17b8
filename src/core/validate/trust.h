// Finding a vault's trusted root: the one self-signed VaultRoot record that the vault file
// itself names (trust::select_root), and the derivation's check that the root remembered for a
// vault is still its only root. Pure functions of their arguments; safe from any thread.
#pragma once

#include <expected>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "platform/result.h"
#include "core/records.h"
#include "core/validate/authority.h"
#include "core/validation_issue.h"
#include "errors/core_error.h"
#include "errors/ops_error.h"

namespace ostrel::trust {

// The key id of the record set's single self-signed root. Every candidate's signature is
// verified. Several self-signed records with one signing key count once.
OpsResult<HashValue> select_root(std::span<const core::VaultRecordV1> records);

}  // namespace ostrel::trust

namespace ostrel::validate {

// A record of the derivation's work list with its record hash.
struct HashedRecord {
  const core::VaultRecordV1* record = nullptr;
  HashValue hash;
};

// The derivation's root search: the one self-signed root whose key id is `trusted_root`, or the
// issue that ends the derivation (RootNotTrusted for none, AmbiguousRoot for several). Candidates
// are counted per record, so one root stored twice is ambiguous. Records whose hash is in
// `verified` are not verified again.
using RootSearch = platform::Result<RootIdentity, core::ValidationIssue>;
CoreResult<RootSearch> search_trusted_root(std::span<const HashedRecord> work, const HashValue& trusted_root,
                                           const VerifiedHashes& verified);

}  // namespace ostrel::validate
