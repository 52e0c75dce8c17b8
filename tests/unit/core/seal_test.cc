// Sealing secret values to readers and opening them: a payload made by an independent
// implementation, round trips, every binding of the two cipher layers, the envelope and its
// older plaintext forms, and the refusals of sealing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "core/ids.h"
#include "core/record_sign.h"
#include "core/seal.h"
#include "crypto/content_cipher_internal.h"
#include "support/hex.h"
#include "support/identities.h"
#include "support/secret_text.h"

namespace ostrel::core {
namespace {

using testing::bytes_of;
using testing::from_hex;
using testing::secret_of;
using testing::to_hex;

Bytes bytes32(const std::array<std::uint8_t, 32>& a) { return Bytes(a.begin(), a.end()); }

std::string text_of(std::span<const std::uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

// "UserId(HashValue([1, 2, ...]))", written out here rather than taken from the type.
std::string user_debug(const UserId& id) {
  std::string out = "UserId(HashValue([";
  for (std::size_t i = 0; i < id.value.bytes.size(); ++i) {
    if (i != 0) out += ", ";
    out += std::to_string(id.value.bytes[i]);
  }
  return out + "]))";
}

// (key, value) pairs of an opened secret, in the order given.
std::vector<std::pair<std::string, std::string>> pairs_of(const SecretRead& read) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const SecretFieldEntryV1& f : read.fields) out.emplace_back(f.key, text_of(f.value.span()));
  return out;
}

HashValue root_key_of(const crypto::Identity& id) {
  auto k = key_id(id.signing_public_key);
  if (!k) std::abort();
  return std::move(*k);
}

// What open reads: the carrying record's signing key, the secret body and the root key id.
struct Opening {
  cord::ByteString signing_public_key;
  SecretRecordV1 body;
  HashValue root;
};

OpsResult<SecretRead> open_as(const crypto::Identity& who, const Opening& o) {
  const VaultRecordV1 record(RecordBodyV1(o.body), o.signing_public_key, Bytes(64, 0));
  return SealedPayloadV1::open(who, record, o.body, o.root);
}

// A payload made by an independent implementation of the same format: "hunter2" without
// fields, sealed to the identity of seed 00 01 … 1f, which is also the root and the writer.
constexpr const char* kHunter2Payload =
    "0000000c222222222222222222222222"
    "00000030ea06a16c58fc8004b80183998f2fbc5e27fd41985cbaa7980a385dd3b594aa57754e776424746f2d0583890f0755829c"
    "00000001"
    "000000203acbd8732cf2cf6b9410ccee479a8a8d2f15e12df71c356bbe615c7d1819fef1"
    "000000207b0d47d93427f8311160781c7c733fd89f88970aef490d8aa0ee19a4cb8a1b14"
    "00000030089142facaf6e200f6ab313211a58d0412e844c294b1464dbb409399f176fa52de72a86e52083f1ea8f1e6561eb9834b";

TEST(SealKnownAnswer, OpensAPayloadSealedElsewhere) {
  const crypto::Identity me = testing::identity_from_seed(testing::counting_seed());
  auto payload = cord::from_slice<SealedPayloadV1>(from_hex(kHunter2Payload));
  ASSERT_TRUE(payload) << payload.error().message();
  const SecretSelectorV1 selector{{"app", "db"}, {}};
  auto id = core::derive_secret_id(selector);
  ASSERT_TRUE(id);
  Opening o{bytes32(me.signing_public_key), SecretRecordV1{*id, selector, *payload, 1}, root_key_of(me)};

  auto read = open_as(me, o);
  ASSERT_TRUE(read) << read.error().message();
  EXPECT_EQ(text_of(read->value.span()), "hunter2");
  EXPECT_TRUE(read->fields.empty());
  EXPECT_EQ(read->selector, selector);

  o.body.counter = 2;
  auto moved = open_as(me, o);
  ASSERT_FALSE(moved);
  EXPECT_EQ(moved.error().message(), "crypto error: AEAD operation failed");
}

// Three users; the writer is `a`, the root is `root`. Readers are kept in ascending id order.
class SealTest : public ::testing::Test {
 protected:
  crypto::Identity a = testing::identity_of(1);
  crypto::Identity b = testing::identity_of(2);
  crypto::Identity outsider = testing::identity_of(3);
  crypto::Identity root = testing::identity_of(4);
  SecretSelectorV1 selector{{"app", "db"}, {{"env", "prod"}}};

  SealReader reader(const crypto::Identity& id) { return {id.user_id, std::span(id.hpke_public_key)}; }

  SealRecipients to(std::vector<SealReader> readers) {
    std::sort(readers.begin(), readers.end(),
              [](const SealReader& x, const SealReader& y) { return x.user_id < y.user_id; });
    return {root_key_of(root), std::move(readers)};
  }

  SecretWriteContext context(std::uint64_t counter = 7) {
    auto id = core::derive_secret_id(selector);
    if (!id) std::abort();
    return {EntityKey(entity::Secret{*id}), bytes32(a.signing_public_key), *id, selector, counter};
  }

  // Seals `value` to a and b, then signs the record around it as the operations would.
  Opening sealed_for_a_and_b(const SecretValueV1& value) {
    const SecretWriteContext ctx = context();
    auto payload = SealedPayloadV1::seal(to({reader(a), reader(b)}), ctx, value);
    if (!payload) ADD_FAILURE() << payload.error().message();
    auto record = SecretRecordV1::create_signed(a, selector, std::move(*payload), ctx.counter);
    if (!record) std::abort();
    return {record->signing_public_key(), std::get<SecretRecordV1>(*record->known_body()), root_key_of(root)};
  }

  // A body for `a` alone whose content plaintext is exactly `plaintext`, built from the same
  // pieces sealing uses, so the envelope rules can be fed any bytes.
  Opening with_plaintext(std::span<const std::uint8_t> plaintext) {
    const SecretWriteContext ctx = context();
    const HashValue root_id = root_key_of(root);
    const crypto::ContentKey key = crypto::random_key();
    const Bytes nonce(12, 0x5a);
    auto slot_context =
        RecipientSlotContext{root_id, ctx.secret_id, selector.tuple, selector.labels, a.user_id}.encode();
    if (!slot_context) std::abort();
    auto wrapped = crypto::hpke_seal(a.hpke_public_key, *slot_context, *slot_context, key);
    if (!wrapped) std::abort();
    SealedPayloadV1 payload{nonce, {}, {{a.user_id, wrapped->encapsulated_key, wrapped->ciphertext}}};
    auto header = SecretEnvelopeHeader{root_id,        ctx.entity_key, ctx.signing_public_key,
                                       ctx.counter,    ctx.secret_id,  selector.tuple,
                                       selector.labels, payload.nonce, payload.recipient_slots}
                      .encode();
    if (!header) std::abort();
    auto ciphertext = crypto::aead_encrypt(key, std::span<const std::uint8_t, 12>(nonce.data(), 12), plaintext, *header);
    if (!ciphertext) std::abort();
    payload.ciphertext = std::move(*ciphertext);
    return {ctx.signing_public_key, SecretRecordV1{ctx.secret_id, selector, std::move(payload), ctx.counter},
            root_id};
  }
};

TEST_F(SealTest, EveryReaderOpensAndNobodyElse) {
  SecretValueV1 value{secret_of("s3cret"), {}};
  value.add_field("b", secret_of("2"));
  value.add_field("ab", secret_of("1"));
  const Opening o = sealed_for_a_and_b(value);

  for (const crypto::Identity* who : {&a, &b}) {
    auto read = open_as(*who, o);
    ASSERT_TRUE(read) << read.error().message();
    EXPECT_EQ(text_of(read->value.span()), "s3cret");
    EXPECT_EQ(pairs_of(*read), (std::vector<std::pair<std::string, std::string>>{{"ab", "1"}, {"b", "2"}}));
    EXPECT_EQ(read->selector, selector);
  }

  auto denied = open_as(outsider, o);
  ASSERT_FALSE(denied);
  EXPECT_EQ(denied.error().kind(), OpsError::RecipientSlotMissing);
  EXPECT_EQ(denied.error().message(), "recipient slot is missing for " + user_debug(outsider.user_id));
}

TEST_F(SealTest, PayloadShape) {
  const SecretValueV1 value{secret_of("hunter2"), {}};
  const Opening o = sealed_for_a_and_b(value);
  const SealedPayloadV1& p = o.body.payload;
  auto encoding = cord::to_vec(value);
  ASSERT_TRUE(encoding);
  EXPECT_EQ(p.nonce.size(), 12u);
  EXPECT_EQ(p.ciphertext.size(), 17 + encoding->size() + 16);
  ASSERT_EQ(p.recipient_slots.size(), 2u);
  EXPECT_LT(p.recipient_slots[0].recipient, p.recipient_slots[1].recipient);
  for (const RecipientSlotV1& slot : p.recipient_slots) {
    EXPECT_EQ(slot.encapsulated_key.size(), 32u);
    EXPECT_EQ(slot.wrapped_key.size(), 48u);
  }
  // Fresh key, nonce and ephemeral keys each time.
  const Opening again = sealed_for_a_and_b(value);
  EXPECT_NE(again.body.payload.nonce, p.nonce);
  EXPECT_NE(again.body.payload.ciphertext, p.ciphertext);
  EXPECT_NE(again.body.payload.recipient_slots[0].encapsulated_key, p.recipient_slots[0].encapsulated_key);

  auto nobody = SealedPayloadV1::seal(to({}), context(), value);
  ASSERT_TRUE(nobody) << nobody.error().message();
  EXPECT_TRUE(nobody->recipient_slots.empty());
  EXPECT_EQ(nobody->ciphertext.size(), 17 + encoding->size() + 16);
}

// Every bound input, changed after sealing, makes `a`'s open fail at the layer that binds it.
TEST_F(SealTest, TamperingIsRefusedByTheLayerThatBindsIt) {
  const Opening sealed = sealed_for_a_and_b(SecretValueV1{secret_of("v"), {}});
  const std::size_t mine = sealed.body.payload.recipient_slots[0].recipient == a.user_id ? 0 : 1;
  const std::size_t theirs = 1 - mine;
  struct Case {
    const char* name;
    std::function<void(Opening&)> change;
    CryptoError want;
  };
  const Case cases[] = {
      {"counter", [](Opening& o) { o.body.counter += 1; }, CryptoError::Aead},
      {"signing key", [&](Opening& o) { o.signing_public_key = bytes32(b.signing_public_key); }, CryptoError::Aead},
      {"nonce byte", [](Opening& o) { o.body.payload.nonce[0] ^= 1; }, CryptoError::Aead},
      {"ciphertext byte", [](Opening& o) { o.body.payload.ciphertext[3] ^= 1; }, CryptoError::Aead},
      {"other reader's wrapped key",
       [&](Opening& o) { o.body.payload.recipient_slots[theirs].wrapped_key[0] ^= 1; }, CryptoError::Aead},
      {"other reader's slot removed",
       [&](Opening& o) {
         auto& slots = o.body.payload.recipient_slots;
         slots.erase(slots.begin() + static_cast<std::ptrdiff_t>(theirs));
       },
       CryptoError::Aead},
      {"secret id", [](Opening& o) { o.body.secret_id.value.bytes[0] ^= 1; }, CryptoError::hpke("")},
      {"tuple", [](Opening& o) { o.body.selector.tuple[1] = "dc"; }, CryptoError::hpke("")},
      {"label value", [](Opening& o) { o.body.selector.labels[0].value = "test"; }, CryptoError::hpke("")},
      {"label added", [](Opening& o) { o.body.selector.labels.push_back({"zone", "a"}); }, CryptoError::hpke("")},
      {"root", [&](Opening& o) { o.root = root_key_of(b); }, CryptoError::hpke("")},
      {"own encapsulated key",
       [&](Opening& o) { o.body.payload.recipient_slots[mine].encapsulated_key[5] ^= 1; }, CryptoError::hpke("")},
      {"own wrapped key", [&](Opening& o) { o.body.payload.recipient_slots[mine].wrapped_key[40] ^= 1; },
       CryptoError::hpke("")},
      {"own encapsulated key 31 bytes",
       [&](Opening& o) { o.body.payload.recipient_slots[mine].encapsulated_key.pop_back(); },
       CryptoError::InvalidHpkeEncapsulatedKey},
      {"nonce 11 bytes", [](Opening& o) { o.body.payload.nonce.pop_back(); },
       CryptoError::invalid_length("content nonce", 12, 11)},
      {"nonce 13 bytes", [](Opening& o) { o.body.payload.nonce.push_back(0); },
       CryptoError::invalid_length("content nonce", 12, 13)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Opening o = sealed;
    c.change(o);
    auto r = open_as(a, o);
    ASSERT_FALSE(r);
    ASSERT_EQ(r.error().kind(), OpsError::Crypto) << r.error().message();
    const CryptoError& got = r.error().crypto_error();
    EXPECT_EQ(got.kind(), c.want.kind()) << r.error().message();
    if (c.want.kind() == CryptoError::InvalidLength) {
      EXPECT_EQ(got, c.want);
    }
  }
  // The untouched payload still opens, so each failure above is the change's doing.
  EXPECT_TRUE(open_as(a, sealed));
}

TEST_F(SealTest, NonceLengthIsCheckedOnlyAfterTheKeyOpens) {
  Opening o = sealed_for_a_and_b(SecretValueV1{secret_of("v"), {}});
  o.body.payload.nonce.pop_back();
  auto r = open_as(a, o);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "crypto error: invalid byte length for content nonce: expected 12, got 11");
  o.root = root_key_of(b);
  auto earlier = open_as(a, o);
  ASSERT_FALSE(earlier);
  EXPECT_EQ(earlier.error().crypto_error().kind(), CryptoError::Hpke);
}

TEST_F(SealTest, ContentKeyMustBe32Bytes) {
  Opening o = sealed_for_a_and_b(SecretValueV1{secret_of("v"), {}});
  auto ctx = RecipientSlotContext{o.root, o.body.secret_id, selector.tuple, selector.labels, a.user_id}.encode();
  ASSERT_TRUE(ctx);
  const Bytes short_key(31, 9);
  auto wrapped = crypto::hpke::seal(a.hpke_public_key, crypto::hpke_info(*ctx), *ctx, short_key);
  ASSERT_TRUE(wrapped);
  for (RecipientSlotV1& slot : o.body.payload.recipient_slots) {
    if (slot.recipient == a.user_id) slot = {a.user_id, wrapped->encapsulated_key, wrapped->ciphertext};
  }
  auto r = open_as(a, o);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "crypto error: invalid byte length for content key: expected 32, got 31");
}

TEST_F(SealTest, PlaintextForms) {
  // "ab" without fields, and "" with fields b=2 and ab=1 stored in encoding order (b first).
  const std::string ab = "00000002 6162 00000000";
  const std::string with_fields = "00000000 00000002 00000001 62 00000001 32 00000002 6162 00000001 31";
  const std::string envelope = to_hex(bytes_of("ostrel-secret-v1")) + "00";
  struct Case {
    const char* name;
    std::vector<std::uint8_t> plaintext;
    bool invalid;
    std::string value;
    std::vector<std::pair<std::string, std::string>> fields;
  };
  const Case cases[] = {
      {"envelope", from_hex(envelope + ab), false, "ab", {}},
      {"envelope with fields sorted by key", from_hex(envelope + with_fields), false, "", {{"ab", "1"}, {"b", "2"}}},
      {"envelope with a trailing byte", from_hex(envelope + ab + "ff"), true, "", {}},
      {"envelope without a value", from_hex(envelope), true, "", {}},
      {"separator not zero", from_hex(to_hex(bytes_of("ostrel-secret-v1")) + "01" + ab), true, "", {}},
      {"another version", from_hex(to_hex(bytes_of("ostrel-secret-v2")) + "00" + ab), true, "", {}},
      {"family prefix alone", bytes_of("ostrel-secret-"), true, "", {}},
      {"13 bytes of the prefix are a bare value", bytes_of("ostrel-secret"), false, "ostrel-secret", {}},
      {"bare encoding", from_hex(ab), false, "ab", {}},
      {"bare encoding with fields", from_hex(with_fields), false, "", {{"ab", "1"}, {"b", "2"}}},
      {"eight zero bytes decode as an empty value", std::vector<std::uint8_t>(8, 0), false, "", {}},
      {"letters whose length prefix overruns", bytes_of("hello world"), false, "hello world", {}},
      {"empty plaintext", {}, false, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = open_as(a, with_plaintext(c.plaintext));
    if (c.invalid) {
      ASSERT_FALSE(r);
      EXPECT_EQ(r.error().message(), "authenticated secret plaintext has an invalid or unsupported envelope");
      continue;
    }
    ASSERT_TRUE(r) << r.error().message();
    EXPECT_EQ(text_of(r->value.span()), c.value);
    EXPECT_EQ(pairs_of(*r), c.fields);
  }
}

TEST_F(SealTest, SealingRefusals) {
  const SecretValueV1 value{secret_of("v"), {}};
  SealRecipients no_root = to({reader(a)});
  no_root.root_key_id.reset();
  SealRecipients unknown_reader = to({reader(a), reader(b)});
  unknown_reader.readers[1].hpke_public_key.reset();
  const Bytes short_key(31, 1);
  SealRecipients bad_key = to({reader(a)});
  bad_key.readers[0].hpke_public_key = short_key;
  SecretValueV1 bad_text = value.clone();
  bad_text.add_field(std::string("\xff"), secret_of("x"));

  struct Case {
    const char* name;
    OpsResult<SealedPayloadV1> got;
    OpsError::Kind kind;
    std::string message;  // empty: the kind is enough
  };
  const Case cases[] = {
      {"no effective root", SealedPayloadV1::seal(no_root, context(), value), OpsError::MissingEffectiveRoot,
       "validated vault is missing an effective root"},
      {"reader without a user record", SealedPayloadV1::seal(unknown_reader, context(), value),
       OpsError::ReaderMissing,
       "reader " + user_debug(unknown_reader.readers[1].user_id) + " is missing an active user record"},
      {"reader key of 31 bytes", SealedPayloadV1::seal(bad_key, context(), value), OpsError::Crypto,
       "crypto error: invalid HPKE public key"},
      {"value that cannot be encoded", SealedPayloadV1::seal(to({reader(a)}), context(), bad_text), OpsError::Cord,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.got);
    EXPECT_EQ(c.got.error().kind(), c.kind) << c.got.error().message();
    if (!c.message.empty()) {
      EXPECT_EQ(c.got.error().message(), c.message);
    }
  }
}

TEST(SealCiphers, AeadRfc8439) {
  // RFC 8439, 2.8.2.
  const crypto::ContentKey key = [] {
    std::array<std::uint8_t, 32> k;
    for (std::size_t i = 0; i < k.size(); ++i) k[i] = static_cast<std::uint8_t>(0x80 + i);
    return crypto::ContentKey(k);
  }();
  const auto nonce = from_hex("07000000 4041424344454647");
  const auto aad = from_hex("50515253c0c1c2c3c4c5c6c7");
  const auto plaintext = bytes_of(
      "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the future, "
      "sunscreen would be it.");
  const std::string want =
      "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282fafb69da92728b"
      "1a71de0a9e060b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b4831d7bc"
      "3ff4def08e4b7a9de576d26586cec64b6116"
      "1ae10b594f09e26a7e902ecbd0600691";
  const crypto::ContentNonce n(nonce.data(), 12);
  auto ct = crypto::aead_encrypt(key, n, plaintext, aad);
  ASSERT_TRUE(ct);
  EXPECT_EQ(to_hex(*ct), want);

  auto pt = crypto::aead_decrypt(key, n, *ct, aad);
  ASSERT_TRUE(pt);
  EXPECT_EQ(text_of(pt->span()), text_of(plaintext));

  const Bytes tag_only(ct->end() - 16, ct->end());
  const Bytes short_ct(15, 0);
  const std::vector<std::uint8_t> other_aad{1};
  for (const auto& [c, d] : {std::pair{std::span<const std::uint8_t>(*ct), std::span<const std::uint8_t>(other_aad)},
                             std::pair{std::span<const std::uint8_t>(tag_only), std::span<const std::uint8_t>(aad)},
                             std::pair{std::span<const std::uint8_t>(short_ct), std::span<const std::uint8_t>(aad)}}) {
    auto r = crypto::aead_decrypt(key, n, c, d);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), CryptoError::Aead);
  }
}

TEST(SealCiphers, HpkeInfoFraming) {
  EXPECT_EQ(to_hex(crypto::hpke_info(bytes_of("ab"))),
            "0000000000000013" + to_hex(bytes_of("ostrel.hpke-info.v1")) + "0000000000000002" + "6162");
  EXPECT_EQ(crypto::hpke_info({}).size(), 35u);
}

}  // namespace
}  // namespace ostrel::core
