// Which signing keys belong to accepted users, and the once-per-derivation signature check it
// shares with the rest of the derivation. Values owned by one derivation; not shared.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <vector>

#include "core/validate/authority.h"
#include "core/validate/trust.h"

namespace ostrel::validate {

// Each record's signature is verified at most once per derivation, and never when its hash is
// already known to be verified.
class SignatureMemo {
 public:
  // The items whose hash `verified` holds start out valid; the rest are checked when asked.
  // REQUIRES: `work` outlives the memo.
  SignatureMemo(std::span<const HashedRecord> work, const VerifiedHashes& verified);

  // Whether the signature of work item `i` counts as valid.
  bool valid(std::size_t i);

 private:
  enum : std::uint8_t { kUnknown, kValid, kInvalid };
  std::span<const HashedRecord> work_;
  std::vector<std::uint8_t> state_;
};

// Signing key -> the user ids registered with it, over the user records (that pass their
// check) signed by a trusted key with a valid signature, starting from the root's key. A work
// queue over keys: when a key becomes trusted, the user records it signed are taken, once each.
// The result is the one repeating whole walks until nothing changes would give, since a user id
// fixes its signing key.
std::map<cord::ByteString, std::set<UserId>> signer_chain(std::span<const HashedRecord> work, const RootIdentity& root,
                                                     SignatureMemo& memo);

}  // namespace ostrel::validate
