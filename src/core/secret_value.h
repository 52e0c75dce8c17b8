// Secret values (the plaintext of a secret) and sealed payloads (their stored, encrypted form).
// Plain values; safe to move between threads.
#pragma once

#include <string>
#include <tuple>
#include <vector>

#include "cord/codec.h"
#include "cord/set.h"
#include "errors/ops_error.h"
#include "ids/identifiers.h"
#include "platform/secret.h"

namespace ostrel::crypto {
struct Identity;
}  // namespace ostrel::crypto

namespace ostrel::core {

// Defined with sealing and opening (core/seal.h).
struct SealRecipients;
struct SecretWriteContext;
struct SecretRead;
struct SecretRecordV1;
class VaultRecordV1;

// One additional named value of a secret. Its value is secret material: it lives in memory that
// wipes itself, is copied only by clone() and has no `==`.
struct SecretFieldEntryV1 {
  std::string key;
  platform::SecretBytes value;
  static auto cord_fields(auto& s) { return std::tie(s.key, s.value); }

  SecretFieldEntryV1 clone() const { return {key, value.clone()}; }
};

// A secret's plaintext: the primary value and a set of fields (an entry is its key and value
// together, so two entries may share a key). Moves, copies only by clone(), has no `==`.
struct SecretValueV1 {
  platform::SecretBytes value;
  cord::Set<SecretFieldEntryV1> fields;
  static auto cord_fields(auto& s) { return std::tie(s.value, s.fields); }

  SecretValueV1 clone() const;
  // Adds a field unless an entry with this key and value is already there (values compared in
  // constant time); says whether it was added.
  bool add_field(std::string key, platform::SecretBytes value);
  // The fields sorted by key bytes, then by value bytes: the one order callers ever see.
  std::vector<const SecretFieldEntryV1*> sorted_fields() const;
};

// The content key wrapped for one reader.
struct RecipientSlotV1 {
  UserId recipient;
  cord::ByteString encapsulated_key;  // 32 bytes when it opens
  cord::ByteString wrapped_key;       // 48 bytes when it opens
  static auto cord_fields(auto& s) { return std::tie(s.recipient, s.encapsulated_key, s.wrapped_key); }
  friend bool operator==(const RecipientSlotV1&, const RecipientSlotV1&) = default;
};

// The stored form of a secret value: encrypted once, its key wrapped once per reader.
struct SealedPayloadV1 {
  cord::ByteString nonce;
  cord::ByteString ciphertext;
  std::vector<RecipientSlotV1> recipient_slots;  // ascending by recipient id as sealed
  static auto cord_fields(auto& s) { return std::tie(s.nonce, s.ciphertext, s.recipient_slots); }
  friend bool operator==(const SealedPayloadV1&, const SealedPayloadV1&) = default;

  // Encrypts `value` under a fresh content key bound to the secret's place, and wraps that key
  // for each reader in `to` (core/seal.cc).
  static OpsResult<SealedPayloadV1> seal(const SealRecipients& to, const SecretWriteContext& context,
                                         const SecretValueV1& value);
  // Unwraps the content key of `identity`'s slot in `body.payload` and decrypts the value.
  // Only the signing public key of `record` (the record carrying `body`) is read.
  // REQUIRES: `body` is `record`'s body (which keeps it alive).
  static OpsResult<SecretRead> open(const crypto::Identity& identity, const VaultRecordV1& record,
                                    const SecretRecordV1& body, const HashValue& root_key_id);
};

}  // namespace ostrel::core
