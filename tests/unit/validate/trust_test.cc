// Root selection: which VaultRoot records qualify as self-signed, the key id the vault file
// names (none, one, several, one key signed twice), and the derivation's search for the
// remembered root with its already-verified records.
#include <gtest/gtest.h>

#include <sodium.h>

#include "core/ids.h"
#include "core/record_sign.h"
#include "core/validate/trust_internal.h"
#include "crypto/signing.h"
#include "support/identities.h"

namespace ostrel::validate {
namespace {

using core::Bytes;
using core::VaultRecordV1;

Bytes bytes_of(const std::array<std::uint8_t, 32>& a) { return Bytes(a.begin(), a.end()); }

HashValue key_id_of(const crypto::Identity& id) { return *core::key_id(id.signing_public_key); }

// The same record with one bit of its signature flipped.
VaultRecordV1 with_bad_signature(const VaultRecordV1& r) {
  Bytes sig = r.signature().to_vector();
  sig[0] ^= 1;
  return VaultRecordV1(r.body(), r.signing_public_key(), std::move(sig));
}

// A second valid signature over `r`'s body under the key of the Ed25519 seed `seed`. RFC 8032
// picks its nonce deterministically, but verification accepts any nonce r: R = rB and
// S = r + H(R || A || M) a (mod L). Ours is fixed, so the record is the same on every run.
VaultRecordV1 signed_with_other_nonce(const VaultRecordV1& r, const platform::SecretArray<32>& seed) {
  platform::SecretArray<64> expanded;
  crypto_hash_sha512(expanded.data(), seed.data(), seed.size());
  expanded.data()[0] &= 248;
  expanded.data()[31] &= 127;
  expanded.data()[31] |= 64;
  platform::SecretArray<64> wide;  // the clamped scalar a, widened for reduction
  std::copy_n(expanded.data(), 32, wide.data());
  platform::SecretArray<32> a;
  crypto_core_ed25519_scalar_reduce(a.data(), wide.data());

  platform::SecretArray<64> nonce_wide;
  std::fill_n(nonce_wide.data(), 64, 0x5a);
  platform::SecretArray<32> nonce;
  crypto_core_ed25519_scalar_reduce(nonce.data(), nonce_wide.data());

  std::array<std::uint8_t, 64> sig{};
  if (crypto_scalarmult_ed25519_base_noclamp(sig.data(), nonce.data()) != 0) std::abort();
  const auto framed = crypto::signature_message(core::kRecordSignaturePurpose, r.signed_message());
  crypto_hash_sha512_state st;
  crypto_hash_sha512_init(&st);
  crypto_hash_sha512_update(&st, sig.data(), 32);
  crypto_hash_sha512_update(&st, r.signing_public_key().data(), 32);
  crypto_hash_sha512_update(&st, framed.data(), framed.size());
  std::array<std::uint8_t, 64> k_wide{};
  crypto_hash_sha512_final(&st, k_wide.data());
  std::array<std::uint8_t, 32> k{};
  crypto_core_ed25519_scalar_reduce(k.data(), k_wide.data());
  platform::SecretArray<32> ka;
  crypto_core_ed25519_scalar_mul(ka.data(), k.data(), a.data());
  crypto_core_ed25519_scalar_add(sig.data() + 32, nonce.data(), ka.data());
  return VaultRecordV1(r.body(), r.signing_public_key(), Bytes(sig.begin(), sig.end()));
}

// A root whose Ed25519 key comes straight from `seed`, signed twice with different nonces.
struct TwiceSignedRoot {
  VaultRecordV1 first;
  VaultRecordV1 second;
  HashValue key_id;
};
TwiceSignedRoot twice_signed_root() {
  std::array<std::uint8_t, 32> bytes;
  bytes.fill(0x33);
  const platform::SecretArray<32> seed{std::span<const std::uint8_t, 32>(bytes)};
  const crypto::SigningKey key = crypto::SigningKey::from_seed(seed);
  const Bytes pk = bytes_of(key.public_key());
  const Bytes hpke(32, 0x44);
  const core::EvolvingBody body(core::RecordBodyV1(core::VaultRootRecordV1{*core::user_id_from_public_keys(pk, hpke), hpke}));
  const auto message = core::to_vec_evolving32(body);
  VaultRecordV1 first(body, pk, crypto::sign(key, core::kRecordSignaturePurpose, *message));
  VaultRecordV1 second = signed_with_other_nonce(first, seed);
  return {std::move(first), std::move(second), *core::key_id(pk)};
}

struct Fixture {
  crypto::Identity a = testing::identity_of(0xa1);
  crypto::Identity b = testing::identity_of(0xb2);
  VaultRecordV1 root_a = testing::root_record(a);
  VaultRecordV1 root_b = testing::root_record(b);
  // B's keys under A's user id: the id does not follow from the record's keys.
  VaultRecordV1 mismatched = testing::signed_record(
      b, core::RecordBodyV1(core::VaultRootRecordV1{a.user_id, bytes_of(b.hpke_public_key)}));
  VaultRecordV1 entry_point = testing::signed_record(
      b, core::RecordBodyV1(core::EntryPointRecordV1{a.user_id, bytes_of(b.hpke_public_key), 1}));
  VaultRecordV1 raw = testing::signed_record(a, core::EvolvingBody::raw(Bytes{0, 0, 0, 14}));
  TwiceSignedRoot twice = twice_signed_root();
};

TEST(Trust, SecondSignatureFixtureIsValidAndDistinct) {
  const Fixture f;
  EXPECT_NE(f.twice.first.signature(), f.twice.second.signature());
  for (const VaultRecordV1* r : {&f.twice.first, &f.twice.second}) {
    EXPECT_TRUE(crypto::verify_signature(core::kRecordSignaturePurpose, r->signing_public_key(), r->signed_message(),
                                         r->signature()));
  }
}

TEST(Trust, SelectRoot) {
  const Fixture f;
  std::vector<HashValue> both = {key_id_of(f.a), key_id_of(f.b)};
  std::sort(both.begin(), both.end());
  struct Case {
    const char* name;
    std::vector<VaultRecordV1> records;
    std::optional<HashValue> want;  // none: an error of `kind`
    OpsError::Kind kind;
  };
  const Case cases[] = {
      {"empty", {}, std::nullopt, OpsError::NoSelfSignedRoot},
      {"no_root_kind", {f.entry_point, f.raw}, std::nullopt, OpsError::NoSelfSignedRoot},
      {"bad_signature", {with_bad_signature(f.root_a)}, std::nullopt, OpsError::NoSelfSignedRoot},
      {"user_id_not_from_keys", {f.mismatched}, std::nullopt, OpsError::NoSelfSignedRoot},
      {"one", {f.root_a}, key_id_of(f.a), {}},
      {"one_among_others", {f.entry_point, f.mismatched, with_bad_signature(f.root_b), f.root_a, f.raw},
       key_id_of(f.a), {}},
      {"same_key_two_signatures", {f.twice.first, f.twice.second}, f.twice.key_id, {}},
      {"two_keys", {f.root_b, f.root_a}, std::nullopt, OpsError::MultipleSelfSignedRoots},
  };
  for (const Case& c : cases) {
    auto got = trust::select_root(c.records);
    if (c.want) {
      ASSERT_TRUE(got) << c.name << ": " << got.error().message();
      EXPECT_EQ(*got, *c.want) << c.name;
    } else {
      ASSERT_FALSE(got) << c.name;
      EXPECT_EQ(got.error().kind(), c.kind) << c.name;
    }
  }

  // Several keys: the ids ascending, in the message too, whatever the record order.
  for (const auto& records : {std::vector{f.root_a, f.root_b}, std::vector{f.root_b, f.root_a, f.root_b}}) {
    auto got = trust::select_root(records);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().root_key_ids(), both);
    EXPECT_EQ(got.error().message(),
              "vault contains multiple self-signed root records that could identify ratchet state: [" +
                  both[0].debug() + ", " + both[1].debug() + "]");
  }
  EXPECT_EQ(trust::select_root({}).error().message(),
            "vault does not contain a self-signed root record that can identify its ratchet state");
}

TEST(Trust, SelfSignedRootGivesTheRootIdentity) {
  const Fixture f;
  auto root = self_signed_root(f.root_a, false);
  ASSERT_TRUE(root);
  ASSERT_TRUE(root->has_value());
  EXPECT_EQ((*root)->user_id, f.a.user_id);
  EXPECT_EQ((*root)->signing_public_key, bytes_of(f.a.signing_public_key));
  EXPECT_EQ((*root)->hpke_public_key, bytes_of(f.a.hpke_public_key));
  EXPECT_EQ((*root)->key_id, key_id_of(f.a));
  // The key id is the signing key's, never the user id.
  EXPECT_NE((*root)->key_id, f.a.user_id.value);

  // A known-valid signature skips verification, but the user id is still checked.
  EXPECT_TRUE(self_signed_root(with_bad_signature(f.root_a), true)->has_value());
  EXPECT_FALSE(self_signed_root(with_bad_signature(f.root_a), false)->has_value());
  EXPECT_FALSE(self_signed_root(f.mismatched, true)->has_value());
  EXPECT_FALSE(self_signed_root(f.raw, true)->has_value());
}

TEST(Trust, DerivationRootSearch) {
  const Fixture f;
  const VaultRecordV1 forged_a = with_bad_signature(f.root_a);
  struct Case {
    const char* name;
    std::vector<const VaultRecordV1*> work;
    HashValue remembered;
    std::vector<const VaultRecordV1*> verified;
    std::optional<HashValue> want;  // the found root's key id; none: `issue`
    core::ValidationIssue::Kind issue;
  };
  const Case cases[] = {
      {"empty", {}, key_id_of(f.a), {}, std::nullopt, core::ValidationIssue::RootNotTrusted},
      {"one", {&f.entry_point, &f.root_a}, key_id_of(f.a), {}, key_id_of(f.a), {}},
      {"other_root_remembered", {&f.root_a}, key_id_of(f.b), {}, std::nullopt, core::ValidationIssue::RootNotTrusted},
      {"two_keys_one_remembered", {&f.root_b, &f.root_a}, key_id_of(f.b), {}, key_id_of(f.b), {}},
      {"same_root_two_signatures", {&f.twice.first, &f.twice.second}, f.twice.key_id, {}, std::nullopt,
       core::ValidationIssue::AmbiguousRoot},
      {"bad_signature", {&forged_a}, key_id_of(f.a), {}, std::nullopt, core::ValidationIssue::RootNotTrusted},
      {"bad_signature_already_verified", {&forged_a}, key_id_of(f.a), {&forged_a}, key_id_of(f.a), {}},
      {"verified_twin_makes_it_ambiguous", {&f.root_a, &forged_a}, key_id_of(f.a), {&forged_a}, std::nullopt,
       core::ValidationIssue::AmbiguousRoot},
      {"user_id_not_from_keys_even_if_verified", {&f.mismatched}, key_id_of(f.b), {&f.mismatched}, std::nullopt,
       core::ValidationIssue::RootNotTrusted},
  };
  for (const Case& c : cases) {
    std::vector<HashedRecord> work;
    for (const VaultRecordV1* r : c.work) work.push_back({r, core::record_hash(*r)});
    VerifiedHashes verified;
    for (const VaultRecordV1* r : c.verified) verified.insert(core::record_hash(*r));
    auto got = search_trusted_root(work, c.remembered, verified);
    ASSERT_TRUE(got) << c.name;
    if (c.want) {
      ASSERT_TRUE(*got) << c.name << ": " << got->error().debug();
      EXPECT_EQ((*got)->key_id, *c.want) << c.name;
    } else {
      ASSERT_FALSE(*got) << c.name;
      EXPECT_EQ(got->error().kind(), c.issue) << c.name;
    }
  }
}

}  // namespace
}  // namespace ostrel::validate
