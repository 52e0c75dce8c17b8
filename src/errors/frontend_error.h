// FrontendError: failures of the front end (selector texts, invitations, user references, hex
// text), with the kinds of a command-line front end that this module never builds but keeps with
// their messages. Wraps the operation, store, keychain and encoding errors whole. Plain data; the
// message is its only text form. Safe to copy and to pass between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/result.h"
#include "errors/cord_error.h"
#include "errors/error_value.h"
#include "errors/keychain_error.h"
#include "errors/ops_error.h"
#include "errors/shared_texts.h"
#include "errors/store_error.h"

namespace ostrel {

class [[nodiscard]] FrontendError : public errors::ErrorValue<FrontendError> {
 public:
  using Path = std::filesystem::path;

  // The kinds in the enumeration's declaration order.
  enum Kind : std::uint8_t {
    Ops = 0,
    Store = 1,
    Keychain = 2,
    Cord = 3,
    IoAt = 4,
    InviteWrittenCommitFailed = 5,
    Io = 6,
    Described = 7,
    InvalidSelector = 8,
    InvalidHex = 9,
    HexLength = 10,
    ValueAndFile = 11,
    SecretInputTooLarge = 12,
    InviteSourceCount = 13,
    InviteMalformed = 14,
    InviteTooLargeForText = 15,
    InvitePrefix = 16,
    ValidationCount = 17,
    EnvNotUtf8 = 18,
    InvalidUserHandle = 19,
    NoDefaultIdentity = 20,
    GroupNotFound = 21,
    GroupAmbiguous = 22,
    MembershipNotFound = 23,
    InvalidGrantableClass = 24,
    NoUserMatches = 25,
    UserAmbiguous = 26,
    NoGrantMatches = 27,
    GrantAmbiguous = 28,
    NotEncryptedToYou = 29,
    NotAuthorizedToRead = 30,
    NoSecretsMatch = 31,
    SecretExists = 32,
    NotSingleVariable = 33,
    InvalidEnvName = 34,
    EnvAssignedTwice = 35,
    EnvAlreadySet = 36,
    NotInjectable = 37,
    ExecFailed = 38,
    RefusePrintPrivate = 39,
    NeedsConfirmation = 40,
    NoClipboardTool = 41,
    GitConfigFailed = 42,
    NoConflictMatches = 43,
    NoConflictCandidateMatches = 44,
    ConflictCandidateAmbiguous = 45,
    SecretConflictedNoValue = 46,
    NoSuchField = 47,
  };

  // Wrapping an error of a lower layer keeps it whole.
  FrontendError(OpsError e) : FrontendError(make(Ops, std::move(e))) {}              // NOLINT: implicit on purpose
  FrontendError(StoreError e) : FrontendError(make(Store, std::move(e))) {}          // NOLINT: implicit on purpose
  FrontendError(KeychainError e) : FrontendError(make(Keychain, std::move(e))) {}    // NOLINT: implicit on purpose
  FrontendError(cord::Error e) : FrontendError(make(Cord, std::move(e))) {}          // NOLINT: implicit on purpose

  // A kind that carries no data: `return FrontendError::InviteMalformed;`. REQUIRES: the kind's
  // form has no {}.
  FrontendError(Kind kind) : ErrorValue(Raw{kind, nullptr}) {}  // NOLINT: implicit on purpose

  // A file the front end read or wrote itself, and what failed there.
  static FrontendError io_at(Path path, IoError error) { return make(IoAt, std::move(path), std::move(error)); }
  static FrontendError invite_written_commit_failed(Path invite_file, OpsError error) {
    return make(InviteWrittenCommitFailed, std::move(invite_file), std::move(error));
  }
  static FrontendError io(IoError error) { return make(Io, std::move(error)); }
  // REQUIRES: `what` is a fixed text.
  static FrontendError described(std::string_view what, std::string message) {
    return make(Described, what, std::move(message));
  }
  // The whole selector text as the caller gave it, shown quoted, and the grammar's fixed message.
  static FrontendError invalid_selector(std::string text, std::string message) {
    return make(InvalidSelector, errors::Quoted{std::move(text)}, std::move(message));
  }
  // What was decoded ("user ID") and why it failed.
  static FrontendError invalid_hex(std::string label, std::string reason) {
    return make(InvalidHex, std::move(label), std::move(reason));
  }
  // What was decoded, the byte count it must have, the count it had.
  static FrontendError hex_length(std::string label, std::size_t expected, std::size_t actual) {
    return make(HexLength, std::move(label), expected, actual);
  }
  static FrontendError secret_input_too_large(std::uint64_t maximum) {
    return make(SecretInputTooLarge, errors::exceeds_maximum("secret input", maximum), maximum);
  }
  // `prefix`: exactly as it stood in the text, shown quoted.
  static FrontendError invite_prefix(std::string prefix) {
    return make(InvitePrefix, errors::Quoted{std::move(prefix)});
  }
  static FrontendError validation_count(std::size_t issues) { return make(ValidationCount, issues); }
  // REQUIRES: `variable` is a fixed text (the variable's name).
  static FrontendError env_not_utf8(std::string_view variable) { return make(EnvNotUtf8, variable); }
  // The handle as the caller gave it, shown quoted; REQUIRES: `reason` is a fixed text such as
  // errors::kHandleRule.
  static FrontendError invalid_user_handle(std::string handle, std::string_view reason) {
    return make(InvalidUserHandle, errors::Quoted{std::move(handle)}, reason);
  }
  // The caller's text of a group, class, user, grant, conflict or candidate, shown quoted.
  static FrontendError group_not_found(std::string group) { return make(GroupNotFound, errors::Quoted{std::move(group)}); }
  static FrontendError group_ambiguous(std::string group) { return make(GroupAmbiguous, errors::Quoted{std::move(group)}); }
  static FrontendError invalid_grantable_class(std::string cls) {
    return make(InvalidGrantableClass, errors::Quoted{std::move(cls)});
  }
  static FrontendError no_user_matches(std::string user) { return make(NoUserMatches, errors::Quoted{std::move(user)}); }
  static FrontendError user_ambiguous(std::string user) { return make(UserAmbiguous, errors::Quoted{std::move(user)}); }
  static FrontendError no_grant_matches(std::string grant) { return make(NoGrantMatches, errors::Quoted{std::move(grant)}); }
  static FrontendError grant_ambiguous(std::string grant) { return make(GrantAmbiguous, errors::Quoted{std::move(grant)}); }
  static FrontendError no_conflict_matches(std::string conflict) {
    return make(NoConflictMatches, errors::Quoted{std::move(conflict)});
  }
  static FrontendError no_conflict_candidate_matches(std::string candidate) {
    return make(NoConflictCandidateMatches, errors::Quoted{std::move(candidate)});
  }
  static FrontendError conflict_candidate_ambiguous(std::string candidate) {
    return make(ConflictCandidateAmbiguous, errors::Quoted{std::move(candidate)});
  }
  // A selector's canonical text, shown as it is.
  static FrontendError not_encrypted_to_you(std::string selector) { return make(NotEncryptedToYou, std::move(selector)); }
  static FrontendError not_authorized_to_read(std::string selector) {
    return make(NotAuthorizedToRead, std::move(selector));
  }
  static FrontendError no_secrets_match(std::string selector) { return make(NoSecretsMatch, std::move(selector)); }
  static FrontendError secret_exists(std::string selector) { return make(SecretExists, std::move(selector)); }
  static FrontendError secret_conflicted_no_value(std::string selector) {
    return make(SecretConflictedNoValue, std::move(selector));
  }
  static FrontendError not_single_variable(std::string selector, std::size_t matches, std::string variable) {
    return make(NotSingleVariable, std::move(selector), matches, std::move(variable));
  }
  // REQUIRES: `reason` is a fixed text.
  static FrontendError invalid_env_name(std::string name, std::string_view reason) {
    return make(InvalidEnvName, errors::Quoted{std::move(name)}, reason);
  }
  static FrontendError env_assigned_twice(std::string variable) { return make(EnvAssignedTwice, std::move(variable)); }
  // Shown joined by ", ", unquoted.
  static FrontendError env_already_set(std::vector<std::string> variables) {
    return make(EnvAlreadySet, std::move(variables));
  }
  // REQUIRES: `reason` is a fixed text.
  static FrontendError not_injectable(std::string selector, std::string_view reason) {
    return make(NotInjectable, std::move(selector), reason);
  }
  static FrontendError exec_failed(std::string command, IoError error) {
    return make(ExecFailed, errors::Quoted{std::move(command)}, std::move(error));
  }
  static FrontendError git_config_failed(std::string key) { return make(GitConfigFailed, std::move(key)); }
  // The selector's canonical text as it is, the field key quoted.
  static FrontendError no_such_field(std::string selector, std::string key) {
    return make(NoSuchField, std::move(selector), errors::Quoted{std::move(key)});
  }

  // REQUIRES: kind() == Ops.
  const OpsError& ops_error() const { return field<OpsError>(0); }
  // REQUIRES: kind() == Store.
  const StoreError& store_error() const { return field<StoreError>(0); }
  // REQUIRES: kind() == Keychain.
  const KeychainError& keychain_error() const { return field<KeychainError>(0); }
  // REQUIRES: kind() == Cord.
  const cord::Error& cord_error() const { return field<cord::Error>(0); }
  // REQUIRES: kind() is IoAt or InviteWrittenCommitFailed.
  const Path& path() const { return field<Path>(0); }
  // REQUIRES: kind() is IoAt, Io or ExecFailed.
  const IoError& io_error() const { return *find<IoError>(); }
  // REQUIRES: kind() == InvalidSelector.
  const std::string& selector_text() const { return field<errors::Quoted>(0).text; }
  const std::string& selector_message() const { return field<std::string>(1); }
  // REQUIRES: kind() is InvalidHex or HexLength. What was decoded ("user ID").
  const std::string& label() const { return field<std::string>(0); }
  // REQUIRES: kind() == InvalidHex.
  const std::string& reason() const { return field<std::string>(1); }
  // REQUIRES: kind() == InvitePrefix. The prefix as it stood in the text.
  const std::string& prefix() const { return field<errors::Quoted>(0).text; }

  static constexpr std::string_view form(Kind kind) {
    switch (kind) {
      case Ops: return errors::kWrappedAlone;
      case Store: return errors::kStoreWrapped;
      case Keychain: return errors::kWrappedAlone;
      case Cord: return errors::kCordWrapped;
      case IoAt: return errors::kIoAt;
      case InviteWrittenCommitFailed: return "invitation file {} was written, but the vault commit failed: {}";
      case Io: return "I/O error: {}";
      case Described: return "{} error: {}";
      case InvalidSelector: return "invalid selector {}: {}";
      case InvalidHex: return "invalid {} hex: {}";
      case HexLength: return "expected {} hex to decode to {} bytes, got {}";
      case ValueAndFile: return "pass at most one of VALUE or --file";
      case SecretInputTooLarge: return "{}";  // errors::exceeds_maximum, made by the factory
      case InviteSourceCount: return "pass exactly one of the string or file form";
      case InviteMalformed: return "invitation string is malformed or has a bad checksum";
      case InviteTooLargeForText: return "invitation is too large to display as text; use --invite-file instead";
      case InvitePrefix: return "not the expected Ostrel invitation (prefix {}; invitations are ostr1…)";
      case ValidationCount: return "validation failed; issue count: {}";
      case EnvNotUtf8: return "environment variable {} must be valid UTF-8";
      case InvalidUserHandle: return errors::kInvalidUserHandle;
      case NoDefaultIdentity: return "no default Ostrel identity is configured; pass --user once";
      case GroupNotFound: return "group {} does not exist";
      case GroupAmbiguous: return "group {} is ambiguous";
      case MembershipNotFound: return "group membership does not exist";
      case InvalidGrantableClass: return "invalid grantable class {}";
      case NoUserMatches: return "no user matches {}";
      case UserAmbiguous: return "user {} is ambiguous";
      case NoGrantMatches: return "no grant matches {}";
      case GrantAmbiguous: return "grant {} is ambiguous";
      case NotEncryptedToYou: return "secret {} is not encrypted to you";
      case NotAuthorizedToRead: return "not authorized to read {}";
      case NoSecretsMatch: return "no secrets match {}";
      case SecretExists: return "secret {} already exists";
      case NotSingleVariable: return "{} matches {} secrets, so it cannot be a single variable {}";
      case InvalidEnvName: return "invalid environment variable name {}: {}";
      case EnvAssignedTwice: return "environment variable {} is assigned by more than one --secret";
      case EnvAlreadySet: return "environment variables already set: {}";
      case NotInjectable: return "secret {} cannot be injected as an environment variable: {}";
      case ExecFailed: return "failed to execute {}: {}";
      case RefusePrintPrivate: return "refusing to print private identity material to the terminal";
      case NeedsConfirmation: return "this operation needs confirmation but the session is not interactive";
      case NoClipboardTool: return "no clipboard tool is available";
      case GitConfigFailed: return "failed to set git config {}";
      case NoConflictMatches: return "no conflict matches {}";
      case NoConflictCandidateMatches: return "no conflict candidate matches {}";
      case ConflictCandidateAmbiguous: return "conflict candidate {} is ambiguous";
      case SecretConflictedNoValue: return "secret {} is conflicted and has no current value";
      case NoSuchField: return "secret {} has no field {}";
    }
    return "front-end error";
  }

 private:
  using ErrorValue::ErrorValue;
};

template <class T>
using FrontendResult = platform::Result<T, FrontendError>;

}  // namespace ostrel
