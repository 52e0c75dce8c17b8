// The two halves a keychain split makes of the records, exposed for tests. Pure functions; safe
// from any thread.
#pragma once

#include <vector>

#include "keychain/migrate.h"

namespace ostrel::keychain {

// Copies of the set's identities of `root`, in canonical order.
std::vector<SealedIdentityV1> identities_for_root(const KeychainRecords& records, const HashValue& root);
// Every record that is not an identity of `root`.
KeychainRecords remaining_records(KeychainRecords records, const HashValue& root);

}  // namespace ostrel::keychain
