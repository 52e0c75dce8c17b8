#include "crypto/content_cipher.h"

#include <sodium.h>

#include <string_view>

#include "crypto/content_cipher_internal.h"
#include "errors/try.h"

namespace ostrel::crypto {
namespace {

constexpr std::string_view kHpkeInfoTag = "ostrel.hpke-info.v1";

}  // namespace

CryptoResult<std::vector<std::uint8_t>> aead_encrypt(const ContentKey& key, ContentNonce nonce,
                                                     std::span<const std::uint8_t> plaintext,
                                                     std::span<const std::uint8_t> associated_data) {
  if (plaintext.size() > crypto_aead_chacha20poly1305_ietf_MESSAGEBYTES_MAX) {
    return std::unexpected(CryptoError::Aead);
  }
  std::vector<std::uint8_t> out(plaintext.size() + crypto_aead_chacha20poly1305_ietf_ABYTES);
  unsigned long long written = 0;
  if (crypto_aead_chacha20poly1305_ietf_encrypt(out.data(), &written, plaintext.data(), plaintext.size(),
                                                associated_data.data(), associated_data.size(), nullptr,
                                                nonce.data(), key.data()) != 0) {
    return std::unexpected(CryptoError::Aead);
  }
  return out;
}

CryptoResult<platform::SecretBytes> aead_decrypt(const ContentKey& key, ContentNonce nonce,
                                                 std::span<const std::uint8_t> ciphertext,
                                                 std::span<const std::uint8_t> associated_data) {
  if (ciphertext.size() < crypto_aead_chacha20poly1305_ietf_ABYTES) {
    return std::unexpected(CryptoError::Aead);
  }
  platform::SecretBytes plaintext(ciphertext.size() - crypto_aead_chacha20poly1305_ietf_ABYTES);
  unsigned long long written = 0;
  if (crypto_aead_chacha20poly1305_ietf_decrypt(plaintext.data(), &written, nullptr, ciphertext.data(),
                                                ciphertext.size(), associated_data.data(),
                                                associated_data.size(), nonce.data(), key.data()) != 0) {
    return std::unexpected(CryptoError::Aead);
  }
  return plaintext;
}

cord::Buffer hpke_info(std::span<const std::uint8_t> context) {
  cord::Buffer out;
  out.reserve(16 + kHpkeInfoTag.size() + context.size());
  cord::Serializer s(out);
  s.write_u64(kHpkeInfoTag.size());
  s.write_raw({reinterpret_cast<const std::uint8_t*>(kHpkeInfoTag.data()), kHpkeInfoTag.size()});
  s.write_u64(context.size());
  s.write_raw(context);
  return out;
}

CryptoResult<hpke::Sealed> hpke_seal(std::span<const std::uint8_t> recipient_public_key,
                                     std::span<const std::uint8_t> context,
                                     std::span<const std::uint8_t> associated_data,
                                     const ContentKey& content_key) {
  return hpke::seal(recipient_public_key, hpke_info(context), associated_data, content_key.span());
}

CryptoResult<ContentKey> open_content_key(const platform::SecretArray<32>& recipient_private_key,
                                          std::span<const std::uint8_t, 32> recipient_public_key,
                                          std::span<const std::uint8_t> encapsulated_key,
                                          std::span<const std::uint8_t> context,
                                          std::span<const std::uint8_t> associated_data,
                                          std::span<const std::uint8_t> wrapped_key) {
  OSTREL_TRY_ASSIGN(const platform::SecretBytes opened,
                    hpke::open(encapsulated_key, recipient_private_key, recipient_public_key, hpke_info(context),
                               associated_data, wrapped_key));
  if (opened.size() != ContentKey::kSize) {
    return std::unexpected(CryptoError::invalid_length("content key", ContentKey::kSize, opened.size()));
  }
  return ContentKey(opened.span().first<ContentKey::kSize>());
}

}  // namespace ostrel::crypto
