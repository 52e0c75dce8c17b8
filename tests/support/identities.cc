#include "support/identities.h"

#include <cstdlib>

namespace ostrel::testing {

std::array<std::uint8_t, 32> counting_seed() {
  std::array<std::uint8_t, 32> seed{};
  for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i);
  return seed;
}

crypto::Identity identity_from_seed(std::span<const std::uint8_t> seed) {
  auto id = crypto::Identity::from_seed(seed);
  if (!id) std::abort();
  return std::move(*id);
}

crypto::Identity identity_of(std::uint8_t fill) {
  std::array<std::uint8_t, 32> seed;
  seed.fill(fill);
  return identity_from_seed(seed);
}

core::VaultRecordV1 signed_record(const crypto::Identity& author, core::EvolvingBody body) {
  auto r = core::sign_record(author, std::move(body));
  if (!r) std::abort();
  return std::move(*r);
}

core::VaultRecordV1 root_record(const crypto::Identity& root) {
  return signed_record(root, core::RecordBodyV1(core::VaultRootRecordV1{
                                 root.user_id, core::Bytes(root.hpke_public_key.begin(), root.hpke_public_key.end())}));
}

}  // namespace ostrel::testing
