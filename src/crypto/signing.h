// Ed25519 signatures under the system's framing: every signature covers a purpose text and a
// message, so a signature made for one purpose never verifies for another. Pure functions;
// safe from any thread. A SigningKey is a value with one owner.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/secret.h"

namespace ostrel::crypto {

inline constexpr std::size_t kSigningPublicKeyBytes = 32;
inline constexpr std::size_t kSignatureBytes = 64;

// The purposes the system signs under.
inline constexpr std::string_view kSignedRecordPurpose = "ostrel.signed.v1";
inline constexpr std::string_view kVerificationCachePurpose = "ostrel.verification-cache.v1";

// An Ed25519 signing key: the 32-byte private key of RFC 8032 and the public key derived from
// it. Wiped when destroyed; copied only through clone().
class SigningKey {
 public:
  // Cannot fail: every 32-byte string is a private key.
  static SigningKey from_seed(const platform::SecretArray<32>& seed);

  const std::array<std::uint8_t, kSigningPublicKeyBytes>& public_key() const { return public_key_; }
  SigningKey clone() const { return SigningKey(secret_.clone(), public_key_); }

 private:
  friend std::vector<std::uint8_t> sign(const SigningKey&, std::string_view,
                                        std::span<const std::uint8_t>);

  SigningKey(platform::SecretArray<64> secret, const std::array<std::uint8_t, kSigningPublicKeyBytes>& pk)
      : secret_(std::move(secret)), public_key_(pk) {}

  platform::SecretArray<64> secret_;  // private key then public key, the form libsodium signs with
  std::array<std::uint8_t, kSigningPublicKeyBytes> public_key_;
};

// The bytes that are actually signed: "ostrel.signature.v1", the purpose and the message, each
// behind its length as a 64-bit big-endian integer (43 + purpose + message bytes).
std::vector<std::uint8_t> signature_message(std::string_view purpose,
                                            std::span<const std::uint8_t> message);

// The 64-byte Ed25519 signature of signature_message(purpose, message).
std::vector<std::uint8_t> sign(const SigningKey& key, std::string_view purpose,
                               std::span<const std::uint8_t> message);

// Strict verification of a framed signature. False, never an error, for a key or signature of
// the wrong length, a key that is not a canonical point, a small-order key or R, an S not
// reduced below the group order, or a signature that does not match.
[[nodiscard]] bool verify_signature(std::string_view purpose,
                                    std::span<const std::uint8_t> public_key,
                                    std::span<const std::uint8_t> message,
                                    std::span<const std::uint8_t> signature);

}  // namespace ostrel::crypto
