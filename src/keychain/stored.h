// The values kept in keychain files, each declared once for its encoder, decoder and equality:
// sealed identities with their key-derivation parameters, the unlocked identity's plaintext, the
// current-user selector, and the record set of the two older keychain.cord layouts. Plain values
// and pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <variant>

#include "cord/codec.h"
#include "cord/evolving.h"
#include "cord/set.h"
#include "platform/secret.h"

namespace ostrel::keychain {

// Parameters of the passphrase key derivation, as stored; their bounds are judged at unlock.
struct KdfParamsV1 {
  std::string algorithm;
  std::uint32_t m = 0;  // memory, KiB
  std::uint32_t t = 0;  // passes
  std::uint32_t p = 0;  // lanes
  static auto cord_fields(auto& s) { return std::tie(s.algorithm, s.m, s.t, s.p); }
  friend bool operator==(const KdfParamsV1&, const KdfParamsV1&) = default;
};

// One user's master seed for one root, sealed with ChaCha20-Poly1305 under a key that Argon2id
// derives from the passphrase. Any length decodes for every bytes field; lengths are judged when
// the identity is unlocked, the ids against the file's path when it is read.
struct SealedIdentityV1 {
  cord::Bytes root;
  cord::Bytes user;
  KdfParamsV1 kdf;
  cord::Bytes salt;
  cord::Bytes nonce;
  cord::Bytes ciphertext;  // encrypted LocalIdentityV1, then the 16-byte tag
  static auto cord_fields(auto& s) {
    return std::tie(s.root, s.user, s.kdf, s.salt, s.nonce, s.ciphertext);
  }
  friend bool operator==(const SealedIdentityV1&, const SealedIdentityV1&) = default;
};

// The plaintext inside a sealed identity: the master seed, in wiping memory.
struct LocalIdentityV1 {
  platform::SecretBytes seed;
  static auto cord_fields(auto& s) { return std::tie(s.seed); }
};

// A root's current (default) user. The label is only ever compared.
struct CurrentUserV1 {
  cord::Bytes user;
  std::optional<std::string> label;
  static auto cord_fields(auto& s) { return std::tie(s.user, s.label); }
  friend bool operator==(const CurrentUserV1&, const CurrentUserV1&) = default;
};

// The records a keychain.cord holds: identities (index 0) and current-user selectors (index 1).
struct KeychainRecordBody : cord::Enumeration<SealedIdentityV1, CurrentUserV1> {
  using Enumeration::Enumeration;
};
// Each record sits in its own length-prefixed payload; a payload of any other index is kept raw
// (the Unknown record) and written back byte for byte.
using KeychainRecordV1 = cord::Evolving<KeychainRecordBody>;
using KeychainRecords = cord::Set<KeychainRecordV1>;

// The sealed identity a record holds, or null (a selector or an unknown record).
const SealedIdentityV1* identity_of(const KeychainRecordV1& record);
// The selector a record holds, or null.
const CurrentUserV1* current_user_of(const KeychainRecordV1& record);

// The records in the order of their encodings, the order they take in a file: every walk over a
// record set follows it, so what a walk decides never depends on how the set was built.
std::vector<const KeychainRecordV1*> canonical_order(const KeychainRecords& records);

// The versioned payloads after each file's magic: variant index 0 (V1), then the value. Decoding
// takes exactly one value; an unknown variant index or a byte left over fails.
cord::Result<cord::Buffer> encode_identity_store(const SealedIdentityV1& identity);
cord::Result<SealedIdentityV1> decode_identity_store(std::span<const std::uint8_t> payload);
cord::Result<cord::Buffer> encode_current_user_store(const CurrentUserV1& selector);
cord::Result<CurrentUserV1> decode_current_user_store(std::span<const std::uint8_t> payload);
cord::Result<cord::Buffer> encode_keychain_store(const KeychainRecords& records);
cord::Result<KeychainRecords> decode_keychain_store(std::span<const std::uint8_t> payload);

// The unlocked plaintext; on a failure the seed decoded so far is wiped with its buffer.
cord::Result<LocalIdentityV1> decode_local_identity(std::span<const std::uint8_t> plaintext);

// The associated data of a sealed identity: root, then user, each as a byte string (no variant
// index, no magic).
cord::Result<cord::Buffer> encode_identity_aad(std::span<const std::uint8_t> root, std::span<const std::uint8_t> user);

}  // namespace ostrel::keychain
