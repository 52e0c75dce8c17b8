// Opening a sealed identity: the passphrase's key through Argon2id (every parameter bound judged
// before any work is done), ChaCha20-Poly1305 over the sealed seed under associated data that
// names the root and the user, and the Identity the seed derives. Nothing is kept between calls;
// the derived key and the plaintext are wiped before these return. Safe from any thread; no
// keychain lock is held while they run.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "cord/serializer.h"
#include "crypto/identity.h"
#include "errors/keychain_error.h"
#include "keychain/stored.h"
#include "platform/secret.h"

namespace ostrel::keychain {

inline constexpr std::string_view kKdfAlgorithm = "argon2id-v1.3";
inline constexpr std::size_t kKdfSaltBytes = 16;
inline constexpr std::uint32_t kKdfMinMemoryKib = 8'192;
inline constexpr std::uint32_t kKdfMaxMemoryKib = 262'144;
inline constexpr std::uint32_t kKdfMaxPasses = 10;
inline constexpr std::uint32_t kKdfMaxLanes = 8;
inline constexpr std::size_t kSealNonceBytes = 12;

using DerivedKey = platform::SecretArray<32>;

// One Argon2id (version 0x13) computation, run on the calling thread: `lanes` lanes, one thread,
// a 32-byte output. The library's refusal is KeychainError::Argon2 with its own text.
struct Argon2idInput {
  std::span<const std::uint8_t> password{};
  std::span<const std::uint8_t> salt{};
  std::span<const std::uint8_t> secret{};
  std::span<const std::uint8_t> associated_data{};
  std::uint32_t memory_kib = 0;
  std::uint32_t passes = 0;
  std::uint32_t lanes = 0;
};
KeychainResult<DerivedKey> argon2id(const Argon2idInput& input);

// What runs the computation; argon2id unless a caller needs to watch it.
using Argon2idRunner = KeychainResult<DerivedKey> (*)(const Argon2idInput&);

// InvalidKdfParams unless the algorithm is exactly kKdfAlgorithm, the salt 16 bytes, and m, t and
// p within their bounds.
KeychainResult<void> check_kdf_params(const KdfParamsV1& params, std::span<const std::uint8_t> salt);

// The associated data of a sealed identity (root, then user, as byte strings).
KeychainResult<cord::Buffer> unlock_aad(std::span<const std::uint8_t> root, std::span<const std::uint8_t> user);

// Opens `sealed` with `passphrase`, in this order: the sealed root and user must equal the ones
// asked for and the nonce be 12 bytes (else InconsistentIdentity naming the requested user);
// the key (InvalidKdfParams, Argon2); the decryption (UnlockFailed, whatever the cause); the
// plaintext must be exactly one LocalIdentityV1 (Cord). The file is never touched.
KeychainResult<LocalIdentityV1> unlock(std::span<const std::uint8_t> passphrase, std::span<const std::uint8_t> root,
                                       std::span<const std::uint8_t> user, const SealedIdentityV1& sealed,
                                       Argon2idRunner run = argon2id);

// The Identity of an unlocked seed; a seed that is not 32 bytes is KeychainError::Crypto.
KeychainResult<crypto::Identity> identity_from_local(const LocalIdentityV1& local);

}  // namespace ostrel::keychain
