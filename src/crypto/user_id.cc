#include "crypto/user_id.h"

#include "cord/codec.h"
#include "crypto/domain_hash.h"

namespace ostrel::crypto {

CoreResult<UserId> user_id_from_public_keys(std::span<const std::uint8_t> signing_public_key,
                                            std::span<const std::uint8_t> hpke_public_key) {
  // Two byte strings one after the other, with no framing around the pair.
  cord::Buffer data;
  data.reserve(8 + signing_public_key.size() + hpke_public_key.size());
  if (auto r = cord::write_byte_string(data, signing_public_key); !r) return std::unexpected(CoreError(r.error()));
  if (auto r = cord::write_byte_string(data, hpke_public_key); !r) return std::unexpected(CoreError(r.error()));
  return UserId(domain_hash("ostrel.user.v1", data));
}

}  // namespace ostrel::crypto
