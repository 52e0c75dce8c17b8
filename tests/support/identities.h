// Fixed-seed identities and a record factory for tests: every key comes from our own derivation
// of a known seed, so fixtures are the same on every run.
#pragma once

#include <array>
#include <cstdint>

#include "core/record_sign.h"
#include "core/records.h"
#include "crypto/identity.h"

namespace ostrel::testing {

// The seed 00 01 02 … 1f.
std::array<std::uint8_t, 32> counting_seed();
// The identity of a 32-byte seed; aborts if derivation fails (it cannot for 32 bytes).
crypto::Identity identity_from_seed(std::span<const std::uint8_t> seed);
// The identity whose seed is 32 bytes of `fill`.
crypto::Identity identity_of(std::uint8_t fill);

// A record signed by `author` over any body, known or raw.
core::VaultRecordV1 signed_record(const crypto::Identity& author, core::EvolvingBody body);

// A valid Ed25519 signature by `identity` made with a random nonce instead of the derived one:
// a second, different signature over the same bytes (Ed25519 itself is deterministic).
std::vector<std::uint8_t> randomized_signature(const crypto::Identity& identity, std::string_view purpose,
                                               std::span<const std::uint8_t> message);

// The self-signed root record of `root`.
core::VaultRecordV1 root_record(const crypto::Identity& root);

}  // namespace ostrel::testing
