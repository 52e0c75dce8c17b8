// Keychain fixtures made with the library's own code: identities sealed under a passphrase at
// chosen key-derivation parameters (the system itself only ever opens them), and the files of the
// current layout and of the two older keychain.cord layouts. Test code only.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "keychain/stored.h"

namespace ostrel::testing {

// The cheapest parameters an unlock accepts: 8 MiB, one pass, one lane.
keychain::KdfParamsV1 cheap_kdf(std::uint32_t lanes = 1);

inline constexpr std::array<std::uint8_t, 16> kSealSalt{0x5a, 0x5a, 0x5a, 0x5a, 0x5a, 0x5a, 0x5a, 0x5a,
                                                       0x5a, 0x5a, 0x5a, 0x5a, 0x5a, 0x5a, 0x5a, 0x5a};
inline constexpr std::array<std::uint8_t, 12> kSealNonce{0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5,
                                                        0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5};

// Seals `seed` (any length) for `root` and `user` under `passphrase`: Argon2id with `kdf` over
// `salt`, ChaCha20-Poly1305 with `nonce` (12 bytes). The key is derived from the parameters as
// given, so they need only be ones the Argon2id library accepts, not ones an unlock accepts.
// Returns none when the library refuses them.
std::optional<keychain::SealedIdentityV1> try_seal_identity(std::span<const std::uint8_t> seed,
                                                            std::span<const std::uint8_t> root,
                                                            std::span<const std::uint8_t> user,
                                                            std::string_view passphrase,
                                                            const keychain::KdfParamsV1& kdf,
                                                            std::span<const std::uint8_t> salt = kSealSalt,
                                                            std::span<const std::uint8_t, 12> nonce = kSealNonce);
// try_seal_identity that aborts on a refusal.
keychain::SealedIdentityV1 seal_identity(std::span<const std::uint8_t> seed, std::span<const std::uint8_t> root,
                                         std::span<const std::uint8_t> user, std::string_view passphrase,
                                         const keychain::KdfParamsV1& kdf);
// The same over a plaintext given whole (to seal what is not a LocalIdentityV1).
keychain::SealedIdentityV1 seal_plaintext(std::span<const std::uint8_t> plaintext, std::span<const std::uint8_t> root,
                                          std::span<const std::uint8_t> user, std::string_view passphrase,
                                          const keychain::KdfParamsV1& kdf);

// Whole files, magic included.
std::vector<std::uint8_t> identity_file(const keychain::SealedIdentityV1& identity);
std::vector<std::uint8_t> current_user_file(const keychain::CurrentUserV1& selector);
std::vector<std::uint8_t> keychain_file(const keychain::KeychainRecords& records);

// Records of a keychain.cord.
keychain::KeychainRecordV1 identity_record(keychain::SealedIdentityV1 identity);
keychain::KeychainRecordV1 current_user_record(keychain::CurrentUserV1 selector);
// A record of a later version: the payload (variant index, then body) kept as it is.
keychain::KeychainRecordV1 unknown_record(std::uint32_t index, std::span<const std::uint8_t> body);

// Writes `bytes` to `path`, creating its folders (for planting files the system would not write).
void plant_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

}  // namespace ostrel::testing
