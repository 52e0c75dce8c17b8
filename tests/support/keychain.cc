#include "support/keychain.h"

#include <cstdlib>
#include <fstream>

#include "crypto/content_cipher.h"
#include "keychain/unlock.h"

namespace ostrel::testing {
namespace {

template <class T>
T or_abort(std::expected<T, cord::Error> r) {
  if (!r) std::abort();
  return std::move(*r);
}

std::vector<std::uint8_t> with_magic(std::string_view magic, std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> out(magic.begin(), magic.end());
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

std::optional<keychain::SealedIdentityV1> seal_plaintext_with(std::span<const std::uint8_t> plaintext,
                                                              std::span<const std::uint8_t> root,
                                                              std::span<const std::uint8_t> user,
                                                              std::string_view passphrase,
                                                              const keychain::KdfParamsV1& kdf,
                                                              std::span<const std::uint8_t> salt,
                                                              std::span<const std::uint8_t, 12> nonce) {
  keychain::SealedIdentityV1 sealed{.root = {root.begin(), root.end()},
                                    .user = {user.begin(), user.end()},
                                    .kdf = kdf,
                                    .salt = {salt.begin(), salt.end()},
                                    .nonce = {nonce.begin(), nonce.end()},
                                    .ciphertext = {}};
  const auto* pass = reinterpret_cast<const std::uint8_t*>(passphrase.data());
  auto key = keychain::argon2id({.password = {pass, passphrase.size()}, .salt = sealed.salt, .memory_kib = kdf.m,
                                 .passes = kdf.t, .lanes = kdf.p});
  if (!key) return std::nullopt;
  const cord::Buffer aad = or_abort(keychain::encode_identity_aad(root, user));
  auto ciphertext = crypto::aead_encrypt(*key, nonce, plaintext, aad);
  if (!ciphertext) std::abort();
  sealed.ciphertext = std::move(*ciphertext);
  return sealed;
}

cord::Buffer local_identity(std::span<const std::uint8_t> seed) {
  cord::Buffer plaintext;
  cord::Serializer s(plaintext);
  if (!s.serialize_bytes(seed, cord::WidthHint::None)) std::abort();
  return plaintext;
}

}  // namespace

keychain::KdfParamsV1 cheap_kdf(std::uint32_t lanes) {
  return keychain::KdfParamsV1{.algorithm = std::string(keychain::kKdfAlgorithm), .m = 8192, .t = 1, .p = lanes};
}

std::optional<keychain::SealedIdentityV1> try_seal_identity(std::span<const std::uint8_t> seed,
                                                            std::span<const std::uint8_t> root,
                                                            std::span<const std::uint8_t> user,
                                                            std::string_view passphrase,
                                                            const keychain::KdfParamsV1& kdf,
                                                            std::span<const std::uint8_t> salt,
                                                            std::span<const std::uint8_t, 12> nonce) {
  return seal_plaintext_with(local_identity(seed), root, user, passphrase, kdf, salt, nonce);
}

keychain::SealedIdentityV1 seal_identity(std::span<const std::uint8_t> seed, std::span<const std::uint8_t> root,
                                         std::span<const std::uint8_t> user, std::string_view passphrase,
                                         const keychain::KdfParamsV1& kdf) {
  auto sealed = try_seal_identity(seed, root, user, passphrase, kdf);
  if (!sealed) std::abort();
  return std::move(*sealed);
}

keychain::SealedIdentityV1 seal_plaintext(std::span<const std::uint8_t> plaintext, std::span<const std::uint8_t> root,
                                          std::span<const std::uint8_t> user, std::string_view passphrase,
                                          const keychain::KdfParamsV1& kdf) {
  auto sealed = seal_plaintext_with(plaintext, root, user, passphrase, kdf, kSealSalt, kSealNonce);
  if (!sealed) std::abort();
  return std::move(*sealed);
}

std::vector<std::uint8_t> identity_file(const keychain::SealedIdentityV1& identity) {
  return with_magic({"ostrel-identity\0", 16}, or_abort(keychain::encode_identity_store(identity)));
}

std::vector<std::uint8_t> current_user_file(const keychain::CurrentUserV1& selector) {
  return with_magic({"ostrel-current-user\0", 20}, or_abort(keychain::encode_current_user_store(selector)));
}

std::vector<std::uint8_t> keychain_file(const keychain::KeychainRecords& records) {
  return with_magic({"ostrel-keychain\0", 16}, or_abort(keychain::encode_keychain_store(records)));
}

keychain::KeychainRecordV1 identity_record(keychain::SealedIdentityV1 identity) {
  return keychain::KeychainRecordV1(keychain::KeychainRecordBody(std::move(identity)));
}

keychain::KeychainRecordV1 current_user_record(keychain::CurrentUserV1 selector) {
  return keychain::KeychainRecordV1(keychain::KeychainRecordBody(std::move(selector)));
}

keychain::KeychainRecordV1 unknown_record(std::uint32_t index, std::span<const std::uint8_t> body) {
  std::vector<std::uint8_t> payload{static_cast<std::uint8_t>(index >> 24), static_cast<std::uint8_t>(index >> 16),
                                    static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index)};
  payload.insert(payload.end(), body.begin(), body.end());
  return keychain::KeychainRecordV1::raw(cord::ByteString(payload));
}

void plant_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}

}  // namespace ostrel::testing
