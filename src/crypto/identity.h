// A user's identity: every key derived from one 32-byte master seed, and the user id those keys
// name. An Identity is a value with one owner; its private parts wipe themselves when it goes.
// The functions are pure and safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/secret.h"
#include "crypto/signing.h"
#include "errors/core_error.h"
#include "errors/crypto_error.h"
#include "ids/identifiers.h"

namespace ostrel::crypto {

inline constexpr std::size_t kMasterSeedBytes = 32;

// The key material of one master seed: the HPKE (X25519) key pair and the Ed25519 signing key.
struct IdentityKeys {
  platform::SecretArray<32> hpke_private_key;
  std::array<std::uint8_t, 32> hpke_public_key;
  SigningKey signing_key;

  IdentityKeys clone() const { return {hpke_private_key.clone(), hpke_public_key, signing_key.clone()}; }
};

// HKDF-SHA256 of the seed under the salt "ostrel.seedsalt.v1": one expansion keys Ed25519, the
// other is the keying material of the X25519 pair. A seed that is not 32 bytes is InvalidLength.
CryptoResult<IdentityKeys> derive_identity_keys(std::span<const std::uint8_t> master_seed);

// The stored user id of an identity disagrees with the one its keys give.
struct UserIdMismatch {
  UserId stored;
  UserId recomputed;
  friend bool operator==(const UserIdMismatch&, const UserIdMismatch&) = default;
};

// The outcome of Identity::check_user_id: the recomputed id, a failure to recompute it, or a
// mismatch.
class [[nodiscard]] UserIdCheck {
 public:
  enum Outcome { Ok = 0, Error = 1, Mismatch = 2 };

  UserIdCheck(UserId id) : v_(std::move(id)) {}              // NOLINT: one of three outcomes
  UserIdCheck(CoreError e) : v_(std::move(e)) {}             // NOLINT
  UserIdCheck(UserIdMismatch m) : v_(std::move(m)) {}        // NOLINT

  Outcome outcome() const { return static_cast<Outcome>(v_.index()); }
  bool ok() const { return outcome() == Ok; }
  // REQUIRES: outcome() == Ok.
  const UserId& user_id() const { return std::get<UserId>(v_); }
  // REQUIRES: outcome() == Error.
  const CoreError& error() const { return std::get<CoreError>(v_); }
  // REQUIRES: outcome() == Mismatch.
  const UserIdMismatch& mismatch() const { return std::get<UserIdMismatch>(v_); }

 private:
  std::variant<UserId, CoreError, UserIdMismatch> v_;
};

// An unlocked identity. Built by from_seed; the fields are open so that an identity assembled
// elsewhere can be checked with check_user_id before it is trusted.
struct Identity {
  UserId user_id;
  std::array<std::uint8_t, 32> signing_public_key;
  std::array<std::uint8_t, 32> hpke_public_key;
  platform::SecretArray<kMasterSeedBytes> master_seed;
  IdentityKeys keys;

  // Derives the keys and the user id; a bad seed length is InvalidLength, a failure to encode
  // the user id is Core.
  static CryptoResult<Identity> from_seed(std::span<const std::uint8_t> master_seed);

  // sign() with this identity's signing key.
  std::vector<std::uint8_t> sign(std::string_view purpose, std::span<const std::uint8_t> message) const;

  // Recomputes the user id from the two public keys and compares it with user_id.
  UserIdCheck check_user_id() const;

  Identity clone() const {
    return {user_id, signing_public_key, hpke_public_key, master_seed.clone(), keys.clone()};
  }
};

}  // namespace ostrel::crypto
