// A realistic vault of any size for benchmarks and fixtures: a few hundred users with entry
// points and handles, groups with memberships, grants of each kind, and the rest secrets with
// three readers each. Deterministic for a given size (Ed25519 signing is deterministic; payload
// bytes are fixed filler, since nothing here opens them). Test code only.
#pragma once

#include <cstddef>
#include <vector>

#include "core/records.h"
#include "ids/identifiers.h"

namespace ostrel::testing {

struct GeneratedVault {
  std::vector<core::VaultRecordV1> records;  // in the order made, not file order
  HashValue root_key_id;
};

GeneratedVault generate_vault(std::size_t total_records);

}  // namespace ostrel::testing
