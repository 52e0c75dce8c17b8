#include "keychain/unlock.h"

#include <argon2.h>

#include <algorithm>
#include <utility>

#include "crypto/content_cipher.h"
#include "errors/try.h"
#include "keychain/unlock_internal.h"

namespace ostrel::keychain {
namespace {

UserId user_id_of(std::span<const std::uint8_t> user) { return UserId(HashValue(user)); }

// The library reads these through non-const pointers but leaves them alone unless asked to clear
// them, which no flag here does.
std::uint8_t* mutable_bytes(std::span<const std::uint8_t> bytes) { return const_cast<std::uint8_t*>(bytes.data()); }

}  // namespace

KeychainResult<DerivedKey> argon2id(const Argon2idInput& input) {
  DerivedKey key;
  argon2_context ctx{};
  ctx.out = key.data();
  ctx.outlen = static_cast<std::uint32_t>(key.size());
  ctx.pwd = mutable_bytes(input.password);
  ctx.pwdlen = static_cast<std::uint32_t>(input.password.size());
  ctx.salt = mutable_bytes(input.salt);
  ctx.saltlen = static_cast<std::uint32_t>(input.salt.size());
  ctx.secret = mutable_bytes(input.secret);
  ctx.secretlen = static_cast<std::uint32_t>(input.secret.size());
  ctx.ad = mutable_bytes(input.associated_data);
  ctx.adlen = static_cast<std::uint32_t>(input.associated_data.size());
  ctx.t_cost = input.passes;
  ctx.m_cost = input.memory_kib;
  ctx.lanes = input.lanes;
  ctx.threads = 1;
  ctx.version = ARGON2_VERSION_13;
  ctx.flags = ARGON2_DEFAULT_FLAGS;
  if (const int rc = argon2_ctx(&ctx, Argon2_id); rc != ARGON2_OK) {
    return std::unexpected(KeychainError::argon2(argon2_error_message(rc)));
  }
  return key;
}

KeychainResult<void> check_kdf_params(const KdfParamsV1& params, std::span<const std::uint8_t> salt) {
  const bool ok = params.algorithm == kKdfAlgorithm && salt.size() == kKdfSaltBytes &&
                  params.m >= kKdfMinMemoryKib && params.m <= kKdfMaxMemoryKib && params.t >= 1 &&
                  params.t <= kKdfMaxPasses && params.p >= 1 && params.p <= kKdfMaxLanes;
  if (!ok) return std::unexpected(KeychainError(KeychainError::InvalidKdfParams));
  return {};
}

KeychainResult<DerivedKey> derive_key(std::span<const std::uint8_t> passphrase, std::span<const std::uint8_t> salt,
                                      const KdfParamsV1& params, Argon2idRunner run) {
  // A file decides the cost of the derivation, so nothing is spent on one that asks too much.
  OSTREL_TRY(check_kdf_params(params, salt));
  return run(Argon2idInput{.password = passphrase, .salt = salt, .memory_kib = params.m, .passes = params.t,
                           .lanes = params.p});
}

KeychainResult<cord::Buffer> unlock_aad(std::span<const std::uint8_t> root, std::span<const std::uint8_t> user) {
  OSTREL_TRY_ASSIGN(cord::Buffer aad, encode_identity_aad(root, user));
  return aad;
}

KeychainResult<LocalIdentityV1> unlock(std::span<const std::uint8_t> passphrase, std::span<const std::uint8_t> root,
                                       std::span<const std::uint8_t> user, const SealedIdentityV1& sealed,
                                       Argon2idRunner run) {
  if (!std::ranges::equal(sealed.root, root) || !std::ranges::equal(sealed.user, user) ||
      sealed.nonce.size() != kSealNonceBytes) {
    return std::unexpected(KeychainError::inconsistent_identity(user_id_of(user)));
  }
  // Refused before anything is built for it; derive_key judges again, for its other callers.
  OSTREL_TRY(check_kdf_params(sealed.kdf, sealed.salt));
  OSTREL_TRY_ASSIGN(const cord::Buffer aad, unlock_aad(sealed.root, sealed.user));
  OSTREL_TRY_ASSIGN(DerivedKey key, derive_key(passphrase, sealed.salt, sealed.kdf, run));
  auto plaintext = crypto::aead_decrypt(key, crypto::ContentNonce(sealed.nonce.data(), kSealNonceBytes),
                                        sealed.ciphertext, aad);
  key.wipe();
  if (!plaintext) return std::unexpected(KeychainError(KeychainError::UnlockFailed));
  OSTREL_TRY_ASSIGN(LocalIdentityV1 local, decode_local_identity(plaintext->span()));
  return local;
}

KeychainResult<crypto::Identity> identity_from_local(const LocalIdentityV1& local) {
  OSTREL_TRY_ASSIGN(crypto::Identity identity, crypto::Identity::from_seed(local.seed.span()));
  return identity;
}

}  // namespace ostrel::keychain
