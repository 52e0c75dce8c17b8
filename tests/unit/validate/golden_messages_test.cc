// Every kind of the keychain, operation and front-end enumerations against its exact message,
// with representative payloads: wrapped errors with and without prefixes, ids in Debug form,
// quoted texts with escapes, bracketed lists, status names and the non-ASCII characters of the
// texts. Each table must name every kind of its enumeration.
#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "core/validate/state.h"
#include "core/validation_issue.h"
#include "errors/frontend_error.h"
#include "errors/keychain_error.h"
#include "errors/ops_error.h"

namespace ostrel {
namespace {

using core::ValidationIssue;

// "0, 0, ..., 0" with `n` zeros, written out apart from the Debug form under test.
std::string zeros(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += i == 0 ? "0" : ", 0";
  return out;
}

UserId user(std::vector<std::uint8_t> bytes) { return UserId(HashValue(std::move(bytes))); }
const UserId kZeroUser = user(std::vector<std::uint8_t>(32, 0));
const std::string kZeroUserText = "UserId(HashValue([" + zeros(32) + "]))";
const std::string kHandleRule =
    "handle must be 1\xE2\x80\x93" "64 chars of a\xE2\x80\x93z, 0\xE2\x80\x93" "9, '-', '_', starting and ending "
    "with a letter or digit";

template <class E>
struct Golden {
  E error;
  std::string want;
};

// Checks every row and that the rows cover kinds 0 to count - 1.
template <class E>
void check_table(const std::vector<Golden<E>>& rows, int count) {
  std::set<int> seen;
  for (const Golden<E>& row : rows) {
    seen.insert(static_cast<int>(row.error.kind()));
    EXPECT_EQ(row.error.message(), row.want) << "kind " << static_cast<int>(row.error.kind());
  }
  for (int k = 0; k < count; ++k) EXPECT_TRUE(seen.contains(k)) << "no row for kind " << k;
  EXPECT_EQ(static_cast<int>(seen.size()), count);
}

std::vector<Golden<KeychainError>> keychain_rows() {
  return {
      {StoreError::io("/k/ab/identities/x.cord", IoError(IoError::InvalidData, "read-back mismatch")),
       "store error: I/O error at /k/ab/identities/x.cord: read-back mismatch"},
      {CryptoError::invalid_length("identity master seed", 32, 16),
       "crypto error: invalid byte length for identity master seed: expected 32, got 16"},
      {cord::Error::validation("not a ostrel keychain file (missing magic prefix)"),
       "Cord error: Cord could not validate: not a ostrel keychain file (missing magic prefix)"},
      {KeychainError::io("/k/keychain.lock", IoError::from_os(EACCES)),
       "I/O error at /k/keychain.lock: Permission denied (os error 13)"},
      {KeychainError::missing_identity(kZeroUser), "identity keychain does not contain " + kZeroUserText},
      {KeychainError::inconsistent_identity(user({1, 2})),
       "identity material is inconsistent for UserId(HashValue([1, 2]))"},
      {KeychainError::UnlockFailed, "identity keychain unlock failed"},
      {KeychainError::passphrase_provider(""), "passphrase provider failed: "},
      {KeychainError::PassphraseMismatch, "passphrases did not match"},
      {KeychainError::identity_provider("no agent"), "identity provider failed: no agent"},
      {KeychainError::backend_unavailable(KeychainError::kPassphraseBackend, KeychainError::kNoKeychainDirectory),
       "passphrase identity keychain backend is unavailable: OSTREL_KEYCHAIN_DIR, APPDATA, XDG_DATA_HOME, and "
       "HOME are unset"},
      {KeychainError::InvalidKdfParams, "invalid passphrase keychain parameters"},
      {KeychainError::argon2("Memory allocation error"), "Argon2 operation failed: Memory allocation error"},
      {KeychainError::no_safe_keychain(kZeroUser), "no safe identity keychain is available for " + kZeroUserText},
      {KeychainError::invalid_file("C:\\k\\ab\\keychain.cord", KeychainError::kCombinedUnknownRecords),
       "keychain file C:\\k\\ab\\keychain.cord is invalid: combined keychain has unknown records with no safe "
       "split destination"},
      {KeychainError::lock_timeout("C:\\k\\ab\\keychain.lock"),
       "timed out waiting for keychain lock at C:\\k\\ab\\keychain.lock"},
      // Paths show as they are, an ill-formed byte as U+FFFD, never quoted.
      {KeychainError::invalid_file(std::filesystem::path("/k/\"\xFF\""), KeychainError::kMissingIdentityMagic),
       "keychain file /k/\"\xEF\xBF\xBD\" is invalid: missing identity magic prefix"},
  };
}

TEST(GoldenMessages, EveryKeychainKind) { check_table(keychain_rows(), 16); }

TEST(GoldenMessages, EveryKeychainFileReason) {
  const std::string_view reasons[] = {
      KeychainError::kMissingIdentityMagic,     KeychainError::kIdentityPathMismatch,
      KeychainError::kIdentityTooLarge,         KeychainError::kIdentityWriteUnverified,
      KeychainError::kMissingCurrentUserMagic,  KeychainError::kCurrentUserTooLarge,
      KeychainError::kCurrentUserWriteUnverified, KeychainError::kCombinedUnknownRecords,
      KeychainError::kCombinedManyCurrentUsers, KeychainError::kCombinedOtherRoot,
      KeychainError::kSplitIdentityConflict,    KeychainError::kSplitCurrentUserConflict,
      KeychainError::kSplitIdentityUnverified,  KeychainError::kSplitCurrentUserUnverified,
      KeychainError::kSplitIdentityLegacyConflict, KeychainError::kLegacyRewriteUnverified,
  };
  const char* want[] = {
      "missing identity magic prefix",
      "identity does not match its root and user path",
      "identity exceeds the supported size",
      "identity write verification failed",
      "missing current-user magic prefix",
      "current-user selector exceeds the supported size",
      "current-user write verification failed",
      "combined keychain has unknown records with no safe split destination",
      "combined keychain contains multiple current-user selectors",
      "combined keychain contains an identity for another root",
      "split identity conflicts with the combined keychain",
      "split current-user selector conflicts with the combined keychain",
      "split identity migration verification failed",
      "split current-user migration verification failed",
      "split identity conflicts with the legacy user keychain",
      "legacy keychain rewrite verification failed",
  };
  for (std::size_t i = 0; i < std::size(reasons); ++i) {
    const KeychainError e = KeychainError::invalid_file("f", reasons[i]);
    EXPECT_EQ(e.message(), std::string("keychain file f is invalid: ") + want[i]);
    EXPECT_EQ(e.reason(), want[i]);
  }
}

std::vector<Golden<OpsError>> ops_rows() {
  const std::string counter_text =
      "the vault's Lamport counter is exhausted \xE2\x80\x94 a record carries an absurdly high counter, which no "
      "well-behaved client produces";
  return {
      {StoreError::workspace_lock_held("/w/.ostrel/vault.cord.lock"),
       "store error: workspace lock is already held at /w/.ostrel/vault.cord.lock"},
      {CoreError::validation("bad"), "core error: validation failed: bad"},
      {CryptoError(CryptoError::Aead), "crypto error: AEAD operation failed"},
      {cord::Error(cord::Error::UnexpectedEnd), "Cord error: Unexpected end of input"},
      {RecordError::signer_mismatch(user({1}), user({2})), "hazmat error: signer identity does not match signing public key"},
      {KeychainError(KeychainError::UnlockFailed), "identity keychain unlock failed"},
      {OpsError::already_initialized("/w/.ostrel/vault.cord"), "vault is already initialized at /w/.ostrel/vault.cord"},
      {OpsError::missing_ratchet_state("/s/ab/ratchet.cord"), "workspace is missing ratchet state at /s/ab/ratchet.cord"},
      {OpsError::validation(std::vector<ValidationIssue>{ValidationIssue::root_not_trusted()}),
       "validation failed: [RootNotTrusted]"},
      {OpsError::not_effective(OpsError::kSecretDeletionNotEffective),
       "operation did not become effective: secret deletion did not take effect"},
      {OpsError::missing_effective_root(), "validated vault is missing an effective root"},
      {OpsError::not_member(kZeroUser), "identity " + kZeroUserText + " is not an effective member of this vault"},
      {OpsError::no_self_signed_root(),
       "vault does not contain a self-signed root record that can identify its ratchet state"},
      {OpsError::multiple_self_signed_roots({HashValue(std::vector<std::uint8_t>{1}), HashValue(std::vector<std::uint8_t>{2, 3})}),
       "vault contains multiple self-signed root records that could identify ratchet state: [HashValue([1]), "
       "HashValue([2, 3])]"},
      {OpsError::SecretMissing, "secret is missing"},
      {OpsError::not_decryptable(validate::SecretStatus::Unauthorized),
       "secret is not decryptable for this identity: Unauthorized"},
      {OpsError::invalid_envelope(), "authenticated secret plaintext has an invalid or unsupported envelope"},
      {OpsError::NotWritable, "secret is not writable by this identity"},
      {OpsError::recipient_slot_missing(user({5})), "recipient slot is missing for UserId(HashValue([5]))"},
      {OpsError::reader_missing(user({6})), "reader UserId(HashValue([6])) is missing an active user record"},
      {OpsError::writer_missing(user({7})), "writer UserId(HashValue([7])) is missing an active user record"},
      {OpsError::user_missing(user({8})), "user UserId(HashValue([8])) is missing an active user record"},
      {OpsError::user_handle_not_found("al\"ice"), "user handle @al\"ice does not exist"},
      {OpsError::user_handle_dangling("bob", user({9})), "user handle @bob points to missing user UserId(HashValue([9]))"},
      {OpsError::invalid_user_handle("a\"b", errors::kHandleRule), "invalid user handle \"a\\\"b\": " + kHandleRule},
      {OpsError::invalid_vault_handle("V\tx", "reason"), "invalid vault handle \"V\\tx\": reason"},
      {OpsError::invalid_group_handle("", "empty"), "invalid group handle \"\": empty"},
      {OpsError::cannot_administer(user({1})), "user UserId(HashValue([1])) cannot administer the principal graph"},
      {OpsError::cannot_confer(user({1})), "user UserId(HashValue([1])) cannot confer all of this group's authority"},
      {OpsError::keychain_identity_mismatch(user({1}), user({2})),
       "keychain returned identity UserId(HashValue([1])), expected UserId(HashValue([2]))"},
      {OpsError::claimed_identity_not_member(user({3})),
       "claimed identity UserId(HashValue([3])) is not a current member of this vault"},
      {OpsError::RolledBackPastBaseline, "the vault has been rolled back past the invite baseline"},
      {OpsError::InviteRootMismatch, "the invitation is for a different vault root"},
      {OpsError::RollbackProtectionRequired,
       "a rollback-protected invitation is required to establish trust non-interactively"},
      {OpsError::no_conflict_candidate(HashValue(std::vector<std::uint8_t>{255, 0})),
       "no conflict candidate has record hash HashValue([255, 0])"},
      {OpsError::conflict_unresolvable("candidate is stale"), "conflict cannot be resolved: candidate is stale"},
      {OpsError::SecretConflicted, "secret is conflicted and has no current value until the conflict is resolved"},
      {OpsError::CounterExhausted, counter_text},
      {OpsError::invalid_join_candidate("wrong root"), "invalid join candidate: wrong root"},
      {OpsError::JoinRootMismatch, "join request trusted root does not match this workspace"},
      {OpsError::JoinApprovalMismatch, "join approval does not match its request"},
      {OpsError::JoinPlanStale, "join approval plan is stale; reload and approve again"},
      {OpsError::EnrollmentConflict, "a prepared Kubernetes enrollment transaction conflicts with local vault state"},
      {OpsError::pending_transaction("00ff", "/w/.ostrel/vault.cord"),
       "a pending transaction 00ff from /w/.ostrel/vault.cord blocks writes for this vault"},
      {OpsError::recovery_mismatch(),
       "transaction recovery found a file that matches neither its before nor after state"},
      {OpsError::precondition_changed(OpsError::kRatchetFile),
       "transaction precondition changed for ratchet; reload and retry"},
      {OpsError::NoPendingTransaction, "there is no pending transaction for this vault"},
      {OpsError::BothRecoveryJournals, "both legacy and current recovery journals exist for this vault"},
      // More payloads of the kinds above.
      {OpsError::validation(std::vector<ValidationIssue>{
           ValidationIssue::invalid_structure("bad \"label\""),
           ValidationIssue::format_version_regression(2, 1)}),
       "validation failed: [InvalidStructure(\"bad \\\"label\\\"\"), FormatVersionRegression { remembered: 2, "
       "current: 1 }]"},
      {OpsError::validation(std::vector<ValidationIssue>{}), "validation failed: []"},
      {OpsError::not_effective(OpsError::kSecretValueNotEffective),
       "operation did not become effective: secret value did not take effect"},
      {OpsError::pending_transaction("ab", std::string(OpsError::kAnotherPlatformPath)),
       "a pending transaction ab from <another platform path> blocks writes for this vault"},
      {OpsError::precondition_changed(OpsError::kVaultFile), "transaction precondition changed for vault; reload and retry"},
      {OpsError(KeychainError::lock_timeout("/k/keychain.lock")), "timed out waiting for keychain lock at /k/keychain.lock"},
  };
}

TEST(GoldenMessages, EveryOpsKind) { check_table(ops_rows(), 48); }

TEST(GoldenMessages, NonAsciiCharactersAreKeptByteForByte) {
  const std::string counter = OpsError(OpsError::CounterExhausted).message();
  EXPECT_EQ(counter.size(), 125u);
  EXPECT_NE(counter.find("\xE2\x80\x94"), std::string::npos);
  EXPECT_EQ(counter.find("--"), std::string::npos);
  const std::string prefix = FrontendError::invite_prefix("x").message();
  EXPECT_EQ(prefix.substr(prefix.size() - 4), "\xE2\x80\xA6)");
  EXPECT_EQ(std::string(errors::kHandleRule), kHandleRule);
}

std::vector<Golden<FrontendError>> frontend_rows() {
  const OpsError ops_root = OpsError::missing_effective_root();
  return {
      {ops_root, "validated vault is missing an effective root"},
      {StoreError::vault_missing("/w/vault.cord"), "store error: vault file is missing at /w/vault.cord"},
      {KeychainError::no_safe_keychain(user({4})), "no safe identity keychain is available for UserId(HashValue([4]))"},
      {cord::Error(cord::Error::TrailingBytes), "Cord error: Trailing bytes after deserialization"},
      {FrontendError::io_at("/tmp/i.invite", IoError(IoError::InvalidData, "file exceeds the supported maximum of 9 bytes")),
       "I/O error at /tmp/i.invite: file exceeds the supported maximum of 9 bytes"},
      {FrontendError::invite_written_commit_failed("/tmp/i.invite", ops_root),
       "invitation file /tmp/i.invite was written, but the vault commit failed: validated vault is missing an "
       "effective root"},
      {FrontendError::io(IoError::from_os(ENOENT)), "I/O error: No such file or directory (os error 2)"},
      {FrontendError::described("clipboard", "tool exited with 1"), "clipboard error: tool exited with 1"},
      {FrontendError::invalid_selector("a\"b", "selector has an unterminated quote"),
       "invalid selector \"a\\\"b\": selector has an unterminated quote"},
      {FrontendError::invalid_hex("user ID", "odd length"), "invalid user ID hex: odd length"},
      {FrontendError::hex_length("user ID", 32, 31), "expected user ID hex to decode to 32 bytes, got 31"},
      {FrontendError::ValueAndFile, "pass at most one of VALUE or --file"},
      {FrontendError::secret_input_too_large(1048576), "secret input exceeds the supported maximum of 1048576 bytes"},
      {FrontendError::InviteSourceCount, "pass exactly one of the string or file form"},
      {FrontendError::InviteMalformed, "invitation string is malformed or has a bad checksum"},
      {FrontendError::InviteTooLargeForText, "invitation is too large to display as text; use --invite-file instead"},
      {FrontendError::invite_prefix("OSTR"),
       "not the expected Ostrel invitation (prefix \"OSTR\"; invitations are ostr1\xE2\x80\xA6)"},
      {FrontendError::validation_count(3), "validation failed; issue count: 3"},
      {FrontendError::env_not_utf8("OSTREL_UNSAFE_INVITE"), "environment variable OSTREL_UNSAFE_INVITE must be valid UTF-8"},
      {FrontendError::invalid_user_handle("", errors::kHandleRule), "invalid user handle \"\": " + kHandleRule},
      {FrontendError::NoDefaultIdentity, "no default Ostrel identity is configured; pass --user once"},
      {FrontendError::group_not_found("ops"), "group \"ops\" does not exist"},
      {FrontendError::group_ambiguous("o\\p"), "group \"o\\\\p\" is ambiguous"},
      {FrontendError::MembershipNotFound, "group membership does not exist"},
      {FrontendError::invalid_grantable_class("own"), "invalid grantable class \"own\""},
      {FrontendError::no_user_matches("deadbeef"), "no user matches \"deadbeef\""},
      {FrontendError::user_ambiguous("ab12cd34"), "user \"ab12cd34\" is ambiguous"},
      {FrontendError::no_grant_matches("g"), "no grant matches \"g\""},
      {FrontendError::grant_ambiguous("g"), "grant \"g\" is ambiguous"},
      {FrontendError::not_encrypted_to_you("app/\"x/y\""), "secret app/\"x/y\" is not encrypted to you"},
      {FrontendError::not_authorized_to_read("app/db"), "not authorized to read app/db"},
      {FrontendError::no_secrets_match("app@env=prod"), "no secrets match app@env=prod"},
      {FrontendError::secret_exists("app/db"), "secret app/db already exists"},
      {FrontendError::not_single_variable("app", 2, "DB_URL"),
       "app matches 2 secrets, so it cannot be a single variable DB_URL"},
      {FrontendError::invalid_env_name("1X", "must not start with a digit"),
       "invalid environment variable name \"1X\": must not start with a digit"},
      {FrontendError::env_assigned_twice("DB_URL"), "environment variable DB_URL is assigned by more than one --secret"},
      {FrontendError::env_already_set({"A", "B"}), "environment variables already set: A, B"},
      {FrontendError::not_injectable("app/db", "it has additional fields"),
       "secret app/db cannot be injected as an environment variable: it has additional fields"},
      {FrontendError::exec_failed("run me", IoError::from_os(ENOENT)),
       "failed to execute \"run me\": No such file or directory (os error 2)"},
      {FrontendError::RefusePrintPrivate, "refusing to print private identity material to the terminal"},
      {FrontendError::NeedsConfirmation, "this operation needs confirmation but the session is not interactive"},
      {FrontendError::NoClipboardTool, "no clipboard tool is available"},
      {FrontendError::git_config_failed("credential.helper"), "failed to set git config credential.helper"},
      {FrontendError::no_conflict_matches("c1"), "no conflict matches \"c1\""},
      {FrontendError::no_conflict_candidate_matches("k"), "no conflict candidate matches \"k\""},
      {FrontendError::conflict_candidate_ambiguous("k"), "conflict candidate \"k\" is ambiguous"},
      {FrontendError::secret_conflicted_no_value("app/db"), "secret app/db is conflicted and has no current value"},
      {FrontendError::no_such_field("app/\"a b\"", "pass\"word"), "secret app/\"a b\" has no field \"pass\\\"word\""},
      // More payloads of the kinds above.
      {FrontendError::invalid_selector("", "selector must not be empty"), "invalid selector \"\": selector must not be empty"},
      {FrontendError::invalid_selector("a\u0301\x01\n", "m"), "invalid selector \"a\\u{301}\\u{1}\\n\": m"},
      {FrontendError(OpsError(StoreError::vault_missing("/v"))), "store error: vault file is missing at /v"},
      {FrontendError::env_already_set({"ONLY"}), "environment variables already set: ONLY"},
      {FrontendError::invite_prefix("\u00e9t\u00e9 1"), "not the expected Ostrel invitation (prefix \"\u00e9t\u00e9 1\"; invitations are ostr1\u2026)"},
  };
}

TEST(GoldenMessages, EveryFrontendKind) { check_table(frontend_rows(), 48); }

TEST(GoldenMessages, WrappedErrorsComeBackWhole) {
  const KeychainError keychain = KeychainError::lock_timeout("/k/l");
  const OpsError ops = keychain;
  EXPECT_EQ(ops.kind(), OpsError::Keychain);
  EXPECT_EQ(ops.keychain_error(), keychain);
  const FrontendError front = ops;
  EXPECT_EQ(front.kind(), FrontendError::Ops);
  EXPECT_EQ(front.ops_error().keychain_error().path(), "/k/l");
  const FrontendError direct = keychain;
  EXPECT_EQ(direct.kind(), FrontendError::Keychain);
  EXPECT_EQ(direct.message(), ops.message());

  const std::vector<ValidationIssue> issues = {ValidationIssue::ambiguous_root()};
  EXPECT_EQ(OpsError::validation(issues).issues<std::vector<ValidationIssue>>(), issues);
  EXPECT_EQ(OpsError::keychain_identity_mismatch(user({1}), user({2})).user_id(), user({1}));
  EXPECT_EQ(FrontendError::secret_input_too_large(7).message(), errors::exceeds_maximum("secret input", 7));
}

}  // namespace
}  // namespace ostrel
