// Messages of the operation error kinds, and how wrapped errors keep their own messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/ops_error.h"

namespace ostrel {
namespace {

UserId user(std::vector<std::uint8_t> bytes) { return UserId(HashValue(std::move(bytes))); }

// "0, 0, ..., 0" with `n` zeros, written out independently of the Debug form under test.
std::string zeros(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += i == 0 ? "0" : ", 0";
  return out;
}

TEST(OpsErrors, EveryKindHasItsMessage) {
  struct Case {
    OpsError error;
    std::string want;
  };
  const Case cases[] = {
      {CoreError::validation("bad selector"), "core error: validation failed: bad selector"},
      {CoreError(cord::Error::Overflow), "core error: cord error: Value overflow for encoding width"},
      {CryptoError(CryptoError::Aead), "crypto error: AEAD operation failed"},
      {CryptoError::invalid_length("identity master seed", 32, 31),
       "crypto error: invalid byte length for identity master seed: expected 32, got 31"},
      {CryptoError(CoreError::validation("v")), "crypto error: core error: validation failed: v"},
      {cord::Error::length_limit_exceeded(5, 4),
       "Cord error: Cord length limit exceeded: 5 exceeds maximum of 4"},
      {OpsError::missing_effective_root(), "validated vault is missing an effective root"},
      {OpsError::no_self_signed_root(),
       "vault does not contain a self-signed root record that can identify its ratchet state"},
      {OpsError::multiple_self_signed_roots({HashValue(std::vector<std::uint8_t>{1, 2}),
                                             HashValue(std::vector<std::uint8_t>{200})}),
       "vault contains multiple self-signed root records that could identify ratchet state: "
       "[HashValue([1, 2]), HashValue([200])]"},
      {OpsError::invalid_envelope(),
       "authenticated secret plaintext has an invalid or unsupported envelope"},
      {OpsError::recipient_slot_missing(user({0, 17, 255})),
       "recipient slot is missing for UserId(HashValue([0, 17, 255]))"},
      {OpsError::reader_missing(user({9})), "reader UserId(HashValue([9])) is missing an active user record"},
      {OpsError::recovery_mismatch(),
       "transaction recovery found a file that matches neither its before nor after state"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.error.message(), c.want);
}

TEST(OpsErrors, WholeIdsAreNeverTruncated) {
  const OpsError e = OpsError::reader_missing(user(std::vector<std::uint8_t>(32, 0)));
  EXPECT_EQ(e.message(),
            "reader UserId(HashValue([" + zeros(32) + "])) is missing an active user record");
}

TEST(OpsErrors, WrappingKeepsTheLowerErrorWhole) {
  const OpsError cord_wrapped(cord::Error::UnexpectedEnd);
  ASSERT_EQ(cord_wrapped.kind(), OpsError::Cord);
  EXPECT_EQ(cord_wrapped.cord_error(), cord::Error(cord::Error::UnexpectedEnd));

  const CoreError core = CoreError::validation("x");
  const OpsError core_wrapped(core);
  ASSERT_EQ(core_wrapped.kind(), OpsError::Core);
  EXPECT_EQ(core_wrapped.core_error(), core);

  const OpsError crypto_wrapped(CryptoError::hpke("seal"));
  ASSERT_EQ(crypto_wrapped.kind(), OpsError::Crypto);
  EXPECT_EQ(crypto_wrapped.crypto_error(), CryptoError::hpke("seal"));

  // An encoding error reaching the operations through the core layer keeps both prefixes, with
  // the operations' capital C only on a direct wrap.
  EXPECT_EQ(OpsError(CoreError(cord::Error::TrailingBytes)).message(),
            "core error: cord error: Trailing bytes after deserialization");
}

TEST(OpsErrors, PayloadsAreKept) {
  const std::vector<HashValue> roots = {HashValue(std::vector<std::uint8_t>{1}),
                                        HashValue(std::vector<std::uint8_t>{2})};
  const OpsError multiple = OpsError::multiple_self_signed_roots(roots);
  EXPECT_EQ(multiple.kind(), OpsError::MultipleSelfSignedRoots);
  EXPECT_EQ(multiple.root_key_ids(), roots);

  const OpsError slot = OpsError::recipient_slot_missing(user({4, 5}));
  EXPECT_EQ(slot.kind(), OpsError::RecipientSlotMissing);
  EXPECT_EQ(slot.user_id(), user({4, 5}));
  EXPECT_EQ(OpsError::reader_missing(user({6})).user_id(), user({6}));
}

}  // namespace
}  // namespace ostrel
