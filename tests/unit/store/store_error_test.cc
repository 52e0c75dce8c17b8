// Store error texts, I/O error kinds and texts, and how paths print.
#include <gtest/gtest.h>

#include <cerrno>

#include "errors/store_error.h"
#include "errors/text_form.h"
#include "store/paths.h"
#include "store/vault_file.h"

namespace ostrel {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

TEST(StoreError, EveryVariantPrintsItsTextAtItsPosition) {
  const HashValue file_root(std::vector<std::uint8_t>{0, 17, 255});
  const HashValue requested_root(std::vector<std::uint8_t>{1});
  struct Case {
    StoreError error;
    std::size_t index;
    std::string want;
  };
  const Case cases[] = {
      {StoreError::io("/w/vault.cord", IoError::from_os(ENOENT)), 0,
       "I/O error at /w/vault.cord: No such file or directory (os error 2)"},
      {StoreError::vault_missing("/w/vault.cord"), 1, "vault file is missing at /w/vault.cord"},
      {StoreError::vault_invalid("v.cord", CoreError::validation("bad magic")), 2,
       "vault file v.cord is invalid: validation failed: bad magic"},
      {StoreError::from_cord(cord::Error::UnexpectedEnd), 3, "Cord error: Unexpected end of input"},
      {StoreError::from_core(CoreError(cord::Error::TrailingBytes)), 4,
       "core error: cord error: Trailing bytes after deserialization"},
      {StoreError::workspace_not_found("/start"), 5, "workspace not found from /start"},
      {StoreError::ambiguous_workspace("/s", "/s/n/.ostrel", "/.ostrel"), 6,
       "ambiguous Ostrel workspace from /s: found nested workspace at /s/n/.ostrel and parent "
       "workspace at /.ostrel; pass an explicit vault path"},
      {StoreError::invalid_workspace_root("/r"), 7, "invalid workspace root /r: missing .ostrel directory"},
      {StoreError::workspace_lock_held("/s/ab/state.lock"), 8,
       "workspace lock is already held at /s/ab/state.lock"},
      {StoreError::ratchet_invalid("r.cord", cord::Error::validation(
                                                "not a ostrel state file (missing magic prefix)")),
       9,
       "ratchet file r.cord is invalid: Cord could not validate: not a ostrel state file (missing "
       "magic prefix)"},
      {StoreError::transaction_invalid("t.cord", "digest mismatch"), 10,
       "transaction file t.cord is invalid: digest mismatch"},
      {StoreError::pending_transaction("t.cord"), 11,
       "a pending transaction at t.cord blocks rollback-state writes"},
      {StoreError::trust_root_mismatch(file_root, requested_root), 12,
       "trust root mismatch: file has HashValue([0, 17, 255]), requested HashValue([1])"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<std::size_t>(c.error.kind()), c.index) << c.want;
    EXPECT_EQ(c.error.message(), c.want);
  }
}

TEST(StoreError, VaultInvalidNamesTheVaultFileOfThePaths) {
  const auto paths = store::WorkspacePaths::for_vault_file("/w/.ostrel/other.cord");
  const StoreError e = store::vault_invalid(paths, CoreError::validation("too many records"));
  ASSERT_TRUE(e.kind() == StoreError::VaultInvalid);
  EXPECT_EQ(e.path(), "/w/.ostrel/other.cord");
  EXPECT_EQ(e.message(), "vault file /w/.ostrel/other.cord is invalid: validation failed: too many records");
}

TEST(IoError, KindsAndTextsOfOperatingSystemCodes) {
  struct Case {
    int code;
    IoError::Kind kind;
    std::string text;
  };
  const Case cases[] = {
      {ENOENT, IoError::NotFound, "No such file or directory (os error 2)"},
      {ENOTDIR, IoError::NotFound, "Not a directory (os error 20)"},
      {EEXIST, IoError::AlreadyExists, "File exists (os error 17)"},
      {EWOULDBLOCK, IoError::WouldBlock, "Resource temporarily unavailable (os error 11)"},
      {EACCES, IoError::PermissionDenied, "Permission denied (os error 13)"},
      {EIO, IoError::Other, "Input/output error (os error 5)"},
  };
  for (const Case& c : cases) {
    const IoError e = IoError::from_os(c.code);
    EXPECT_EQ(e.kind(), c.kind) << c.text;
    EXPECT_EQ(e.os_code(), c.code);
    EXPECT_EQ(e.message(), c.text);
  }
}

TEST(IoError, OwnMessageIsTheWholeText) {
  const IoError e(IoError::InvalidInput, "not a regular file");
  EXPECT_EQ(e.message(), "not a regular file");
  EXPECT_FALSE(e.os_code().has_value());
  EXPECT_EQ(StoreError::io("d", e).message(), "I/O error at d: not a regular file");
}

TEST(PathText, IllFormedBytesBecomeOneReplacementPerMaximalSubpart) {
  struct Case {
    std::string raw;
    std::string want;
  };
  const Case cases[] = {
      {"/plain/ascii", "/plain/ascii"},
      {"caf\xC3\xA9/\xF0\x9F\x98\x80", "caf\xC3\xA9/\xF0\x9F\x98\x80"},  // well-formed kept
      {"a\xFF" "b", "a" + kReplacement + "b"},                            // never a lead byte
      {"a\xE2\x82", "a" + kReplacement},                                   // truncated at the end
      {"\xF0\x9F\x98x", kReplacement + "x"},                               // truncated mid-path
      {"\xC0\xAF", kReplacement + kReplacement},                           // overlong form
      {"\xED\xA0\x80", kReplacement + kReplacement + kReplacement},        // surrogate
      {"\xF4\x90\x80\x80", kReplacement + kReplacement + kReplacement + kReplacement},  // > U+10FFFF
  };
  for (const Case& c : cases) EXPECT_EQ(errors::path_text(std::filesystem::path(c.raw)), c.want);
  EXPECT_EQ(StoreError::vault_missing(std::filesystem::path("/v/\xFF")).message(),
            "vault file is missing at /v/" + kReplacement);
}

}  // namespace
}  // namespace ostrel
