// Sealing a secret value to its readers and opening it again: the value is encrypted once with
// ChaCha20-Poly1305 under a fresh content key, and that key is wrapped with HPKE for each reader.
// Both layers are bound to the vault root, the secret and its place, so a payload moved elsewhere
// does not open. Pure functions apart from drawing OS randomness; safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/access.h"
#include "core/entity_key.h"
#include "core/records.h"
#include "core/secret_value.h"
#include "crypto/content_cipher.h"
#include "platform/secret.h"
#include "errors/crypto_error.h"
#include "errors/ops_error.h"
#include "ids/identifiers.h"

namespace ostrel::core {

// The first 16 bytes of every plaintext sealed by this version; a 00 byte and the value's
// encoding follow. Plaintexts without it predate the envelope.
inline constexpr std::string_view kSecretEnvelopePrefix = "ostrel-secret-v1";

// One user a value is sealed to.
struct SealReader {
  UserId user_id;
  // The HPKE public key of the reader's user record; absent when there is no such record.
  std::optional<std::span<const std::uint8_t>> hpke_public_key;
};

// Who a value is sealed to: the vault's effective root and its readers.
struct SealRecipients {
  // Absent in a vault without an effective root: nothing can be sealed there.
  std::optional<HashValue> root_key_id;
  // REQUIRES: ascending by user id bytes, no id twice. The slots keep this order.
  std::vector<SealReader> readers;
};

// Where a value being sealed will live: the record the caller is about to sign around it.
struct SecretWriteContext {
  EntityKey entity_key;  // always entity::Secret{secret_id}
  cord::ByteString signing_public_key;
  SecretId secret_id;
  SecretSelectorV1 selector;
  std::uint64_t counter = 0;
};

// An opened secret. Moves, copies only by clone(), has no `==`.
struct SecretRead {
  SecretSelectorV1 selector;
  platform::SecretBytes value;
  std::vector<SecretFieldEntryV1> fields;  // sorted by key bytes

  SecretRead clone() const;

  // The first field whose key equals `key` byte for byte, or null.
  const SecretFieldEntryV1* field(std::string_view key) const;
  // A new value: a copy of the primary value and of every field whose key is not `key`.
  SecretValueV1 without_field(std::string_view key) const;
};

// The associated data of the content encryption; never stored. A view of its parts.
struct SecretEnvelopeHeader {
  const HashValue& root;
  const EntityKey& entity_key;
  const cord::ByteString& signing_public_key;
  std::uint64_t counter;
  const SecretId& secret_id;
  const std::vector<cord::Text>& tuple;
  const std::vector<SecretLabelV1>& labels;
  const cord::ByteString& nonce;
  const std::vector<RecipientSlotV1>& recipient_slots;

  static auto cord_fields(auto& s) {
    return std::tie(s.root, s.entity_key, s.signing_public_key, s.counter, s.secret_id, s.tuple,
                    s.labels, s.nonce, s.recipient_slots);
  }
  OpsResult<cord::Buffer> encode() const;
};

// The HPKE context (and associated data) of one recipient slot; never stored. A view of its parts.
struct RecipientSlotContext {
  const HashValue& root;
  const SecretId& secret_id;
  const std::vector<cord::Text>& tuple;
  const std::vector<SecretLabelV1>& labels;
  const UserId& recipient;

  static auto cord_fields(auto& s) {
    return std::tie(s.root, s.secret_id, s.tuple, s.labels, s.recipient);
  }
  OpsResult<cord::Buffer> encode() const;
};

}  // namespace ostrel::core
