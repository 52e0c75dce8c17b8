// The one error shape: its size, how copies share and moves steal a payload, how wrapped errors
// come back whole, how forms are filled, and the shared texts of size limits.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "errors/cord_error.h"
#include "errors/core_error.h"
#include "errors/crypto_error.h"
#include "errors/frontend_error.h"
#include "errors/ops_error.h"
#include "errors/record_error.h"
#include "errors/shared_texts.h"
#include "errors/store_error.h"

namespace ostrel {
namespace {

// Every enumeration is a kind and one pointer, cheap to return and to move.
template <class... E>
constexpr bool all_small = ((sizeof(E) == 16 && std::is_nothrow_move_constructible_v<E> &&
                             std::is_nothrow_move_assignable_v<E>) && ...);
static_assert(all_small<cord::Error, CoreError, CryptoError, RecordError, IoError, StoreError, OpsError,
                        FrontendError>);

TEST(ErrorValue, CopiesShareThePayloadAndMovesTakeIt) {
  const StoreError original = StoreError::io("/v/vault.cord", IoError(IoError::InvalidData, "x"));
  StoreError copy = original;
  EXPECT_EQ(&copy.path(), &original.path()) << "a copy shares the immutable payload";
  EXPECT_EQ(copy, original);

  StoreError moved = std::move(copy);
  EXPECT_EQ(&moved.path(), &original.path());
  EXPECT_EQ(moved.message(), "I/O error at /v/vault.cord: x");

  // Assigning over a value drops its old payload and keeps the new one alive on its own.
  moved = StoreError::vault_missing("/elsewhere");
  EXPECT_EQ(moved.message(), "vault file is missing at /elsewhere");
  EXPECT_EQ(original.message(), "I/O error at /v/vault.cord: x");
  moved = moved;  // NOLINT: self-assignment must keep the payload
  EXPECT_EQ(moved.message(), "vault file is missing at /elsewhere");
}

TEST(ErrorValue, EqualityIsByKindAndFieldValues) {
  struct Case {
    const char* name;
    CoreError a;
    CoreError b;
    bool equal;
  };
  const Case cases[] = {
      {"same text, separate payloads", CoreError::validation("t"), CoreError::validation("t"), true},
      {"other text", CoreError::validation("t"), CoreError::validation("u"), false},
      {"kinds without data", CoreError(cord::Error::Overflow), CoreError(cord::Error::Overflow), true},
      {"other wrapped kind", CoreError(cord::Error::Overflow), CoreError(cord::Error::InvalidBool), false},
      {"other kind, same text", CoreError::validation("Value overflow for encoding width"),
       CoreError(cord::Error::Overflow), false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.a == c.b, c.equal) << c.name;
}

TEST(ErrorValue, WrappedErrorsComeBackWhole) {
  const StoreError store = StoreError::ratchet_invalid("r.cord", cord::Error::length_limit_exceeded(9, 8));
  const OpsError ops = store;
  ASSERT_NE(ops.find<StoreError>(), nullptr);
  EXPECT_EQ(*ops.find<StoreError>(), store);
  EXPECT_EQ(ops.find<CoreError>(), nullptr);
  const cord::Error& inner = ops.store_error().cord_error();
  EXPECT_EQ(inner.kind(), cord::Error::LengthLimitExceeded);
  EXPECT_EQ(inner.length(), 9u);
  EXPECT_EQ(inner.maximum(), 8u);

  const RecordError record = CoreError::validation("v");
  EXPECT_EQ(record.core_error(), CoreError::validation("v"));
  EXPECT_EQ(record.message(), "core error: validation failed: v");
}

TEST(ErrorValue, FieldsFillTheirPlacesInTheirTextForms) {
  struct Case {
    const char* name;
    std::string message;
    std::string want;
  };
  const Case cases[] = {
      {"path with an ill-formed byte", StoreError::vault_missing(std::filesystem::path("/v/\xFF")).message(),
       "vault file is missing at /v/\xEF\xBF\xBD"},
      {"three paths in order", StoreError::ambiguous_workspace("/a", "/b", "/c").message(),
       "ambiguous Ostrel workspace from /a: found nested workspace at /b and parent workspace at /c; "
       "pass an explicit vault path"},
      {"quoted text, then plain text", FrontendError::invalid_selector("a\"b", "m").message(),
       "invalid selector \"a\\\"b\": m"},
      {"numbers in decimal", CryptoError::invalid_length("k", 32, 0).message(),
       "invalid byte length for k: expected 32, got 0"},
      {"an id in its Debug form", OpsError::reader_missing(UserId(HashValue(std::vector<std::uint8_t>{7}))).message(),
       "reader UserId(HashValue([7])) is missing an active user record"},
      {"a wrapped error three levels down", OpsError(CryptoError(CoreError(cord::Error::NotNfc))).message(),
       "crypto error: core error: cord error: String is not NFC normalized"},
      {"ids a form does not show", RecordError::signer_mismatch(UserId(), UserId()).message(),
       "signer identity does not match signing public key"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.message, c.want) << c.name;
}

TEST(SharedTexts, LimitMessagesShareTheirWords) {
  EXPECT_EQ(errors::size_above_maximum("vault", 268435457, 268435456),
            "vault is 268435457 bytes, above the supported maximum of 268435456");
  EXPECT_EQ(errors::count_above_maximum("vault", 262145, "records", 262144),
            "vault carries 262145 records, above the supported maximum of 262144");
  EXPECT_EQ(errors::exceeds_maximum("file", 10), "file exceeds the supported maximum of 10 bytes");
}

}  // namespace
}  // namespace ostrel
