#include "crypto/signing.h"

#include <sodium.h>

#include <algorithm>

namespace ostrel::crypto {
namespace {

void append_framed(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> part) {
  const auto n = static_cast<std::uint64_t>(part.size());
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(n >> shift));
  out.insert(out.end(), part.begin(), part.end());
}

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

SigningKey SigningKey::from_seed(const platform::SecretArray<32>& seed) {
  platform::SecretArray<64> secret;
  std::array<std::uint8_t, kSigningPublicKeyBytes> pk;
  crypto_sign_seed_keypair(pk.data(), secret.data(), seed.data());
  return SigningKey(std::move(secret), pk);
}

std::vector<std::uint8_t> signature_message(std::string_view purpose,
                                            std::span<const std::uint8_t> message) {
  static constexpr std::string_view kDomain = "ostrel.signature.v1";
  std::vector<std::uint8_t> out;
  out.reserve(24 + kDomain.size() + purpose.size() + message.size());
  append_framed(out, bytes_of(kDomain));
  append_framed(out, bytes_of(purpose));
  append_framed(out, message);
  return out;
}

std::vector<std::uint8_t> sign(const SigningKey& key, std::string_view purpose,
                               std::span<const std::uint8_t> message) {
  const auto framed = signature_message(purpose, message);
  std::vector<std::uint8_t> signature(kSignatureBytes);
  crypto_sign_detached(signature.data(), nullptr, framed.data(), framed.size(), key.secret_.data());
  return signature;
}

bool verify_signature(std::string_view purpose, std::span<const std::uint8_t> public_key,
                      std::span<const std::uint8_t> message, std::span<const std::uint8_t> signature) {
  if (public_key.size() != kSigningPublicKeyBytes || signature.size() != kSignatureBytes) return false;
  const auto framed = signature_message(purpose, message);
  // libsodium's verification is the strict one: it refuses an S not below the group order, a
  // small-order key or R, and compares the recomputed R byte for byte. It goes one step further
  // than the point decoding we need and also refuses a key whose y coordinate is written
  // unreduced (y >= 2^255 - 19). No real key is encoded that way, only a hand-made one, so we
  // keep that refusal.
  return crypto_sign_verify_detached(signature.data(), framed.data(), framed.size(),
                                     public_key.data()) == 0;
}

}  // namespace ostrel::crypto
