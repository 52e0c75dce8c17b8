#include "crypto/hpke.h"

#include <sodium.h>

#include <algorithm>

#include "crypto/hkdf.h"
#include "crypto/hpke_internal.h"
#include "crypto/random.h"
#include "errors/try.h"

namespace ostrel::crypto::hpke {
namespace {

// Texts of the Hpke kind. The binding sorts errors into exception classes by words in their
// messages, so these stay short and plain.
constexpr const char* kZeroSharedPoint = "DH output is zero";
constexpr const char* kOpenFailed = "open failed";
constexpr const char* kTooLong = "plaintext too long";

// X25519 of our private key and the peer's public key. A small-order peer key gives the
// all-zero point, which carries no secret; libsodium reports it and we refuse it.
CryptoResult<platform::SecretArray<32>> dh(const platform::SecretArray<32>& private_key,
                                           std::span<const std::uint8_t, 32> public_key) {
  platform::SecretArray<32> out;
  if (crypto_scalarmult_curve25519(out.data(), private_key.data(), public_key.data()) != 0) {
    return std::unexpected(CryptoError::hpke(kZeroSharedPoint));
  }
  return out;
}

// ExtractAndExpand of the KEM: the shared secret bound to both public keys.
platform::SecretArray<32> extract_and_expand(const platform::SecretArray<32>& dh_output,
                                             std::span<const std::uint8_t, kEncapsulatedKeyBytes> enc,
                                             std::span<const std::uint8_t, kPublicKeyBytes> recipient_public_key) {
  std::array<std::uint8_t, kEncapsulatedKeyBytes + kPublicKeyBytes> kem_context;
  std::copy(enc.begin(), enc.end(), kem_context.begin());
  std::copy(recipient_public_key.begin(), recipient_public_key.end(), kem_context.begin() + enc.size());
  const auto eae_prk = labeled_extract(kKemSuiteId, {}, "eae_prk", dh_output.span());
  return labeled_expand<32>(kKemSuiteId, eae_prk, "shared_secret", kem_context);
}

}  // namespace

CryptoResult<Encapsulation> encap(std::span<const std::uint8_t, kPublicKeyBytes> recipient_public_key,
                                  const platform::SecretArray<32>& ephemeral_ikm) {
  const X25519KeyPair ephemeral = derive_x25519_key_pair(ephemeral_ikm.span());
  OSTREL_TRY_ASSIGN(const auto shared_point, dh(ephemeral.private_key, recipient_public_key));
  return Encapsulation{extract_and_expand(shared_point, ephemeral.public_key, recipient_public_key),
                       ephemeral.public_key};
}

CryptoResult<platform::SecretArray<32>> decap(std::span<const std::uint8_t, kEncapsulatedKeyBytes> encapsulated_key,
                                              const platform::SecretArray<kPrivateKeyBytes>& recipient_private_key,
                                              std::span<const std::uint8_t, kPublicKeyBytes> recipient_public_key) {
  OSTREL_TRY_ASSIGN(const auto shared_point, dh(recipient_private_key, encapsulated_key));
  return extract_and_expand(shared_point, encapsulated_key, recipient_public_key);
}

CryptoResult<platform::SecretArray<32>> decap(std::span<const std::uint8_t, kEncapsulatedKeyBytes> encapsulated_key,
                                              const platform::SecretArray<kPrivateKeyBytes>& recipient_private_key) {
  std::array<std::uint8_t, kPublicKeyBytes> recipient_public_key;
  (void)crypto_scalarmult_curve25519_base(recipient_public_key.data(), recipient_private_key.data());
  return decap(encapsulated_key, recipient_private_key, recipient_public_key);
}

std::array<std::uint8_t, 65> key_schedule_context(std::span<const std::uint8_t> info) {
  static constexpr std::uint8_t kModeBase = 0x00;
  // The psk id is always empty in base mode, so its hash is one constant of the suite.
  static const auto psk_id_hash = labeled_extract(kHpkeSuiteId, {}, "psk_id_hash", {});
  const auto info_hash = labeled_extract(kHpkeSuiteId, {}, "info_hash", info);
  std::array<std::uint8_t, 65> context;
  context[0] = kModeBase;
  std::copy_n(psk_id_hash.data(), 32, context.begin() + 1);
  std::copy_n(info_hash.data(), 32, context.begin() + 33);
  return context;
}

KeySchedule key_schedule(const platform::SecretArray<32>& shared_secret, std::span<const std::uint8_t> info) {
  const auto context = key_schedule_context(info);
  // Base mode: the psk is empty, so the shared secret is the salt of an empty extract.
  const auto secret = labeled_extract(kHpkeSuiteId, shared_secret.span(), "secret", {});
  return KeySchedule{labeled_expand<kKeyBytes>(kHpkeSuiteId, secret, "key", context),
                     labeled_expand<kNonceBytes>(kHpkeSuiteId, secret, "base_nonce", context)};
}

CryptoResult<Sealed> seal_with_ephemeral_ikm(std::span<const std::uint8_t> recipient_public_key,
                                             const platform::SecretArray<32>& ephemeral_ikm,
                                             std::span<const std::uint8_t> info,
                                             std::span<const std::uint8_t> aad,
                                             std::span<const std::uint8_t> plaintext) {
  if (recipient_public_key.size() != kPublicKeyBytes) {
    return std::unexpected(CryptoError::InvalidHpkePublicKey);
  }
  if (plaintext.size() > crypto_aead_chacha20poly1305_ietf_MESSAGEBYTES_MAX) {
    return std::unexpected(CryptoError::hpke(kTooLong));
  }
  OSTREL_TRY_ASSIGN(const auto encapsulation,
                    encap(recipient_public_key.first<kPublicKeyBytes>(), ephemeral_ikm));
  const KeySchedule ks = key_schedule(encapsulation.shared_secret, info);

  // Single shot: the only message has sequence number 0, so its nonce is the base nonce.
  Sealed out{{encapsulation.encapsulated_key.begin(), encapsulation.encapsulated_key.end()},
             std::vector<std::uint8_t>(plaintext.size() + kTagBytes)};
  unsigned long long written = 0;
  crypto_aead_chacha20poly1305_ietf_encrypt(out.ciphertext.data(), &written, plaintext.data(),
                                            plaintext.size(), aad.data(), aad.size(), nullptr,
                                            ks.base_nonce.data(), ks.key.data());
  return out;
}

CryptoResult<Sealed> seal(std::span<const std::uint8_t> recipient_public_key,
                          std::span<const std::uint8_t> info, std::span<const std::uint8_t> aad,
                          std::span<const std::uint8_t> plaintext) {
  return seal_with_ephemeral_ikm(recipient_public_key, random_key(), info, aad, plaintext);
}

CryptoResult<platform::SecretBytes> open(std::span<const std::uint8_t> encapsulated_key,
                                         const platform::SecretArray<kPrivateKeyBytes>& recipient_private_key,
                                         std::span<const std::uint8_t, kPublicKeyBytes> recipient_public_key,
                                         std::span<const std::uint8_t> info,
                                         std::span<const std::uint8_t> aad,
                                         std::span<const std::uint8_t> ciphertext) {
  if (encapsulated_key.size() != kEncapsulatedKeyBytes) {
    return std::unexpected(CryptoError::InvalidHpkeEncapsulatedKey);
  }
  if (ciphertext.size() < kTagBytes) return std::unexpected(CryptoError::hpke(kOpenFailed));
  OSTREL_TRY_ASSIGN(const auto shared_secret,
                    decap(encapsulated_key.first<kEncapsulatedKeyBytes>(), recipient_private_key,
                          recipient_public_key));
  const KeySchedule ks = key_schedule(shared_secret, info);

  platform::SecretBytes plaintext(ciphertext.size() - kTagBytes);
  unsigned long long written = 0;
  if (crypto_aead_chacha20poly1305_ietf_decrypt(plaintext.data(), &written, nullptr, ciphertext.data(),
                                                ciphertext.size(), aad.data(), aad.size(),
                                                ks.base_nonce.data(), ks.key.data()) != 0) {
    return std::unexpected(CryptoError::hpke(kOpenFailed));
  }
  return plaintext;
}

CryptoResult<platform::SecretBytes> open(std::span<const std::uint8_t> encapsulated_key,
                                         const platform::SecretArray<kPrivateKeyBytes>& recipient_private_key,
                                         std::span<const std::uint8_t> info,
                                         std::span<const std::uint8_t> aad,
                                         std::span<const std::uint8_t> ciphertext) {
  std::array<std::uint8_t, kPublicKeyBytes> recipient_public_key;
  (void)crypto_scalarmult_curve25519_base(recipient_public_key.data(), recipient_private_key.data());
  return open(encapsulated_key, recipient_private_key, recipient_public_key, info, aad, ciphertext);
}

}  // namespace ostrel::crypto::hpke
