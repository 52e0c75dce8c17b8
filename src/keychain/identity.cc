#include "keychain/identity.h"

#include <utility>

namespace ostrel::keychain {

KeychainResult<SeedUser> user_id_from_seed(std::span<const std::uint8_t> master_seed) {
  auto identity = crypto::Identity::from_seed(master_seed);
  if (!identity) return std::unexpected(KeychainError(std::move(identity).error()));
  return SeedUser{std::move(identity->master_seed), std::move(identity->user_id)};
}

}  // namespace ostrel::keychain
