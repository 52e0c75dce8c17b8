#include "core/seal.h"

#include <algorithm>
#include <utility>

#include "crypto/identity.h"
#include "errors/try.h"

namespace ostrel::core {
namespace {

// What every envelope version shares; a plaintext that starts with it but is not this version's
// envelope is refused rather than read as a value from before envelopes.
constexpr std::string_view kEnvelopeFamily = kSecretEnvelopePrefix.substr(0, 14);
constexpr std::uint8_t kEnvelopeSeparator = 0x00;
constexpr std::size_t kEnvelopeHeadBytes = kSecretEnvelopePrefix.size() + 1;

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool starts_with(std::span<const std::uint8_t> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                                                     [](char c, std::uint8_t b) {
                                                       return static_cast<std::uint8_t>(c) == b;
                                                     });
}

// The prefix, the separator and the value's encoding, written straight into one wiping buffer.
OpsResult<cord::Buffer> envelope_of(const SecretValueV1& value) {
  cord::Buffer out;
  out.reserve(kEnvelopeHeadBytes + 64);
  cord::Serializer s(out);
  s.write_raw(bytes_of(kSecretEnvelopePrefix));
  s.write_u8(kEnvelopeSeparator);
  OSTREL_TRY(cord::encode(s, value));
  return out;
}

// The value inside a decrypted plaintext: this version's envelope, or a bare value (or bare
// bytes) written before envelopes existed.
OpsResult<SecretValueV1> value_of_plaintext(std::span<const std::uint8_t> plaintext) {
  if (starts_with(plaintext, kSecretEnvelopePrefix) && plaintext.size() >= kEnvelopeHeadBytes &&
      plaintext[kSecretEnvelopePrefix.size()] == kEnvelopeSeparator) {
    auto value = cord::from_slice<SecretValueV1>(plaintext.subspan(kEnvelopeHeadBytes));
    if (!value) return std::unexpected(OpsError::invalid_envelope());
    return std::move(*value);
  }
  if (starts_with(plaintext, kEnvelopeFamily)) return std::unexpected(OpsError::invalid_envelope());
  if (auto value = cord::from_slice<SecretValueV1>(plaintext)) return std::move(*value);
  return SecretValueV1{platform::SecretBytes::copy_of(plaintext), {}};
}

// The fields moved out of `value` in key order.
std::vector<SecretFieldEntryV1> take_sorted_fields(SecretValueV1& value) {
  const std::vector<const SecretFieldEntryV1*> order = value.sorted_fields();
  std::vector<SecretFieldEntryV1>& items = value.fields.items();
  std::vector<SecretFieldEntryV1> out;
  out.reserve(order.size());
  for (const SecretFieldEntryV1* f : order) out.push_back(std::move(items[f - items.data()]));
  return out;
}

// The encoding of `value` in a buffer sized for `expected_bytes` up front: a header grows with its
// slots, and every growth of a wiping buffer copies the bytes and wipes the old block.
template <class T>
OpsResult<cord::Buffer> encode_sized(const T& value, std::size_t expected_bytes) {
  cord::Buffer out;
  out.reserve(expected_bytes);
  cord::Serializer s(out);
  OSTREL_TRY(cord::encode(s, value));
  return out;
}

}  // namespace

OpsResult<cord::Buffer> SecretEnvelopeHeader::encode() const {
  // Ids, keys, nonce and selector of common sizes, then per slot three byte strings of 32, 32
  // and 48 bytes behind their lengths. A longer header only grows the buffer.
  constexpr std::size_t kFixedBytes = 256;
  constexpr std::size_t kSlotBytes = 3 * 4 + 32 + 32 + 48;
  return encode_sized(*this, kFixedBytes + recipient_slots.size() * kSlotBytes);
}

OpsResult<cord::Buffer> RecipientSlotContext::encode() const { return cord::to_vec(*this); }

SecretRead SecretRead::clone() const {
  SecretRead out{selector, value.clone(), {}};
  out.fields.reserve(fields.size());
  for (const SecretFieldEntryV1& f : fields) out.fields.push_back(f.clone());
  return out;
}

OpsResult<SealedPayloadV1> SealedPayloadV1::seal(const SealRecipients& to, const SecretWriteContext& context,
                                                 const SecretValueV1& value) {
  if (!to.root_key_id) return std::unexpected(OpsError::missing_effective_root());
  const HashValue& root = *to.root_key_id;
  OSTREL_TRY_ASSIGN(const cord::Buffer envelope, envelope_of(value));
  const crypto::ContentKey content_key = crypto::random_key();
  const auto nonce = crypto::random_nonce();

  SealedPayloadV1 out;
  out.nonce = cord::ByteString(std::span<const std::uint8_t>(nonce));
  out.recipient_slots.reserve(to.readers.size());
  const SecretSelectorV1& selector = context.selector;
  for (const SealReader& reader : to.readers) {
    if (!reader.hpke_public_key) return std::unexpected(OpsError::reader_missing(reader.user_id));
    OSTREL_TRY_ASSIGN(const cord::Buffer slot_context,
                      (RecipientSlotContext{root, context.secret_id, selector.tuple, selector.labels,
                                            reader.user_id}
                           .encode()));
    OSTREL_TRY_ASSIGN(crypto::hpke::Sealed wrapped,
                      crypto::hpke_seal(*reader.hpke_public_key, slot_context, slot_context, content_key));
    out.recipient_slots.push_back(
        RecipientSlotV1{reader.user_id, std::move(wrapped.encapsulated_key), std::move(wrapped.ciphertext)});
  }

  OSTREL_TRY_ASSIGN(const cord::Buffer header,
                    (SecretEnvelopeHeader{root, context.entity_key, context.signing_public_key,
                                          context.counter, context.secret_id, selector.tuple,
                                          selector.labels, out.nonce, out.recipient_slots}
                         .encode()));
  OSTREL_TRY_ASSIGN(out.ciphertext, crypto::aead_encrypt(content_key, nonce, envelope, header));
  return out;
}

const SecretFieldEntryV1* SecretRead::field(std::string_view key) const {
  const auto it = std::find_if(fields.begin(), fields.end(), [&](const SecretFieldEntryV1& f) { return f.key == key; });
  return it == fields.end() ? nullptr : &*it;
}

SecretValueV1 SecretRead::without_field(std::string_view key) const {
  SecretValueV1 out{value.clone(), {}};
  out.fields.items().reserve(fields.size());
  for (const SecretFieldEntryV1& f : fields) {
    if (f.key != key) out.fields.items().push_back(f.clone());
  }
  return out;
}

OpsResult<SecretRead> SealedPayloadV1::open(const crypto::Identity& identity, const VaultRecordV1& record,
                                            const SecretRecordV1& body, const HashValue& root_key_id) {
  const SealedPayloadV1& payload = body.payload;
  const auto slot = std::find_if(payload.recipient_slots.begin(), payload.recipient_slots.end(),
                                 [&](const RecipientSlotV1& s) { return s.recipient == identity.user_id; });
  if (slot == payload.recipient_slots.end()) {
    return std::unexpected(OpsError::recipient_slot_missing(identity.user_id));
  }
  const SecretSelectorV1& selector = body.selector;
  OSTREL_TRY_ASSIGN(const cord::Buffer slot_context,
                    (RecipientSlotContext{root_key_id, body.secret_id, selector.tuple, selector.labels,
                                          slot->recipient}
                         .encode()));
  OSTREL_TRY_ASSIGN(const crypto::ContentKey content_key,
                    crypto::open_content_key(identity.keys.hpke_private_key, identity.keys.hpke_public_key,
                                     slot->encapsulated_key, slot_context, slot_context, slot->wrapped_key));
  if (payload.nonce.size() != crypto::kContentNonceBytes) {
    return std::unexpected(
        CryptoError::invalid_length("content nonce", crypto::kContentNonceBytes, payload.nonce.size()));
  }
  const EntityKey entity_key(entity::Secret{body.secret_id});
  OSTREL_TRY_ASSIGN(const cord::Buffer header,
                    (SecretEnvelopeHeader{root_key_id, entity_key, record.signing_public_key(), body.counter,
                                          body.secret_id, selector.tuple, selector.labels, payload.nonce,
                                          payload.recipient_slots}
                         .encode()));
  OSTREL_TRY_ASSIGN(const platform::SecretBytes plaintext,
                    crypto::aead_decrypt(content_key,
                                         crypto::ContentNonce(payload.nonce.data(), crypto::kContentNonceBytes),
                                         payload.ciphertext, header));
  OSTREL_TRY_ASSIGN(SecretValueV1 value, value_of_plaintext(plaintext.span()));

  SecretRead read;
  read.fields = take_sorted_fields(value);
  read.value = std::move(value.value);
  read.selector = body.selector;  // a copy: the read outlives the record
  return read;
}

}  // namespace ostrel::core
