#include "keychain/identity.h"
#include "errors/try.h"

#include <utility>

namespace ostrel::keychain {

KeychainResult<SeedUser> user_id_from_seed(std::span<const std::uint8_t> master_seed) {
  OSTREL_TRY_ASSIGN(auto identity, crypto::Identity::from_seed(master_seed));
  return SeedUser{std::move(identity.master_seed), std::move(identity.user_id)};
}

}  // namespace ostrel::keychain
