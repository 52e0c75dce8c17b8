#include "crypto/identity.h"

#include "crypto/hkdf.h"
#include "crypto/user_id.h"
#include "errors/try.h"

namespace ostrel::crypto {
namespace {

// The salt, and the two expansion labels that extend it.
constexpr std::string_view kSeedSalt = "ostrel.seedsalt.v1";
constexpr std::string_view kEd25519Info = "ostrel.seedsalt.v1.ed25519";
constexpr std::string_view kX25519Info = "ostrel.seedsalt.v1.x25519";

}  // namespace

CryptoResult<IdentityKeys> derive_identity_keys(std::span<const std::uint8_t> master_seed) {
  if (master_seed.size() != kMasterSeedBytes) {
    return std::unexpected(CryptoError::invalid_length("identity master seed", kMasterSeedBytes,
                                                       master_seed.size()));
  }
  // The expansions have a fixed 32-byte length and so cannot fail; every intermediate is a
  // platform::SecretArray and is wiped when this returns.
  const auto prk = hkdf_extract(detail::bytes_of(kSeedSalt), master_seed);
  const auto signing_seed = hkdf_expand<32>(prk, detail::bytes_of(kEd25519Info));
  const auto hpke_ikm = hkdf_expand<32>(prk, detail::bytes_of(kX25519Info));
  X25519KeyPair hpke = derive_x25519_key_pair(hpke_ikm.span());
  return IdentityKeys{std::move(hpke.private_key), hpke.public_key, SigningKey::from_seed(signing_seed)};
}

CryptoResult<Identity> Identity::from_seed(std::span<const std::uint8_t> master_seed) {
  OSTREL_TRY_ASSIGN(auto keys, derive_identity_keys(master_seed));
  const auto signing_public_key = keys.signing_key.public_key();
  const auto hpke_public_key = keys.hpke_public_key;
  OSTREL_TRY_ASSIGN(auto user_id, user_id_from_public_keys(signing_public_key, hpke_public_key));
  return Identity{std::move(user_id), signing_public_key, hpke_public_key,
                  platform::SecretArray<kMasterSeedBytes>(master_seed.first<kMasterSeedBytes>()),
                  std::move(keys)};
}

std::vector<std::uint8_t> Identity::sign(std::string_view purpose,
                                         std::span<const std::uint8_t> message) const {
  return crypto::sign(keys.signing_key, purpose, message);
}

UserIdCheck Identity::check_user_id() const {
  auto recomputed = user_id_from_public_keys(signing_public_key, hpke_public_key);
  if (!recomputed) return std::move(recomputed).error();
  if (recomputed->value.bytes != user_id.value.bytes) return UserIdMismatch{user_id, std::move(*recomputed)};
  return std::move(*recomputed);
}

}  // namespace ostrel::crypto
