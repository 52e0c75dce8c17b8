// OpsError: failures of the vault operations (opening, sessions, reading and writing secrets,
// journals). Wraps the errors of the layers below whole and adds kinds of its own. Plain data;
// the message is its only text form. Safe to copy and to pass between threads.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/result.h"
#include "errors/cord_error.h"
#include "errors/core_error.h"
#include "errors/crypto_error.h"
#include "errors/error_value.h"
#include "errors/keychain_error.h"
#include "errors/record_error.h"
#include "errors/shared_texts.h"
#include "errors/store_error.h"
#include "ids/identifiers.h"

namespace ostrel {

class [[nodiscard]] OpsError : public errors::ErrorValue<OpsError> {
 public:
  using Path = std::filesystem::path;

  // The 48 kinds, numbered in the enumeration's declaration order.
  enum Kind : std::uint8_t {
    Store = 0,
    Core = 1,
    Crypto = 2,
    Cord = 3,
    Hazmat = 4,
    Keychain = 5,
    AlreadyInitialized = 6,
    MissingRatchetState = 7,
    Validation = 8,
    NotEffective = 9,
    MissingEffectiveRoot = 10,
    NotMember = 11,
    NoSelfSignedRoot = 12,
    MultipleSelfSignedRoots = 13,
    SecretMissing = 14,
    NotDecryptable = 15,
    InvalidEnvelope = 16,
    NotWritable = 17,
    RecipientSlotMissing = 18,
    ReaderMissing = 19,
    WriterMissing = 20,
    UserMissing = 21,
    UserHandleNotFound = 22,
    UserHandleDangling = 23,
    InvalidUserHandle = 24,
    InvalidVaultHandle = 25,
    InvalidGroupHandle = 26,
    CannotAdminister = 27,
    CannotConfer = 28,
    KeychainIdentityMismatch = 29,
    ClaimedIdentityNotMember = 30,
    RolledBackPastBaseline = 31,
    InviteRootMismatch = 32,
    RollbackProtectionRequired = 33,
    NoConflictCandidate = 34,
    ConflictUnresolvable = 35,
    SecretConflicted = 36,
    CounterExhausted = 37,
    InvalidJoinCandidate = 38,
    JoinRootMismatch = 39,
    JoinApprovalMismatch = 40,
    JoinPlanStale = 41,
    EnrollmentConflict = 42,
    PendingTransaction = 43,
    RecoveryMismatch = 44,
    PreconditionChanged = 45,
    NoPendingTransaction = 46,
    BothRecoveryJournals = 47,
  };

  // The fixed texts NotEffective carries.
  static constexpr std::string_view kSecretValueNotEffective = "secret value did not take effect";
  static constexpr std::string_view kSecretDeletionNotEffective = "secret deletion did not take effect";
  // The fixed texts PreconditionChanged names its file by.
  static constexpr std::string_view kVaultFile = "vault";
  static constexpr std::string_view kRatchetFile = "ratchet";
  // The vault path of PendingTransaction when the journal was written on another platform.
  static constexpr std::string_view kAnotherPlatformPath = "<another platform path>";

  // Wrapping an error of a lower layer keeps it whole.
  OpsError(StoreError e) : OpsError(make(Store, std::move(e))) {}        // NOLINT: implicit on purpose
  OpsError(CoreError e) : OpsError(make(Core, std::move(e))) {}          // NOLINT: implicit on purpose
  OpsError(CryptoError e) : OpsError(make(Crypto, std::move(e))) {}      // NOLINT: implicit on purpose
  OpsError(cord::Error e) : OpsError(make(Cord, std::move(e))) {}        // NOLINT: implicit on purpose
  OpsError(RecordError e) : OpsError(make(Hazmat, std::move(e))) {}      // NOLINT: implicit on purpose
  OpsError(KeychainError e) : OpsError(make(Keychain, std::move(e))) {}  // NOLINT: implicit on purpose

  // A kind that carries no data: `return OpsError::SecretMissing;`. REQUIRES: the kind's form
  // has no {}.
  OpsError(Kind kind) : ErrorValue(Raw{kind, nullptr}) {}  // NOLINT: implicit on purpose

  static OpsError already_initialized(Path vault_file) { return make(AlreadyInitialized, std::move(vault_file)); }
  static OpsError missing_ratchet_state(Path ratchet_file) {
    return make(MissingRatchetState, std::move(ratchet_file));
  }
  // `issues`: a std::vector<core::ValidationIssue>, shown as its bracketed Debug forms. A
  // template because the issue type lives in a layer above this folder: the payload is built
  // where the type is complete.
  template <class Issues>
    requires requires(const Issues& v) { errors::debug_list(v); }
  static OpsError validation(Issues issues) {
    return make(Validation, std::move(issues));
  }
  // REQUIRES: `what` is kSecretValueNotEffective or kSecretDeletionNotEffective.
  static OpsError not_effective(std::string_view what) { return make(NotEffective, what); }
  static OpsError missing_effective_root() { return make(MissingEffectiveRoot); }
  static OpsError not_member(UserId user) { return make(NotMember, std::move(user)); }
  static OpsError no_self_signed_root() { return make(NoSelfSignedRoot); }
  // `root_key_ids`: the candidates' key ids, ascending.
  static OpsError multiple_self_signed_roots(std::vector<HashValue> root_key_ids) {
    return make(MultipleSelfSignedRoots, std::move(root_key_ids));
  }
  // `status`: a validate::SecretStatus, shown by its name (a template for the same reason as
  // validation()).
  template <class Status>
    requires std::is_enum_v<Status>
  static OpsError not_decryptable(Status status) {
    return make(NotDecryptable, status);
  }
  static OpsError invalid_envelope() { return make(InvalidEnvelope); }
  static OpsError recipient_slot_missing(UserId user) { return make(RecipientSlotMissing, std::move(user)); }
  static OpsError reader_missing(UserId user) { return make(ReaderMissing, std::move(user)); }
  static OpsError writer_missing(UserId user) { return make(WriterMissing, std::move(user)); }
  static OpsError user_missing(UserId user) { return make(UserMissing, std::move(user)); }
  // `handle`: shown unquoted after an at sign.
  static OpsError user_handle_not_found(std::string handle) { return make(UserHandleNotFound, std::move(handle)); }
  static OpsError user_handle_dangling(std::string handle, UserId user) {
    return make(UserHandleDangling, std::move(handle), std::move(user));
  }
  // The handle as given, shown quoted; REQUIRES: `reason` is a fixed text such as
  // errors::kHandleRule.
  static OpsError invalid_user_handle(std::string handle, std::string_view reason) {
    return make(InvalidUserHandle, errors::Quoted{std::move(handle)}, reason);
  }
  static OpsError invalid_vault_handle(std::string handle, std::string_view reason) {
    return make(InvalidVaultHandle, errors::Quoted{std::move(handle)}, reason);
  }
  static OpsError invalid_group_handle(std::string handle, std::string_view reason) {
    return make(InvalidGroupHandle, errors::Quoted{std::move(handle)}, reason);
  }
  static OpsError cannot_administer(UserId user) { return make(CannotAdminister, std::move(user)); }
  static OpsError cannot_confer(UserId user) { return make(CannotConfer, std::move(user)); }
  static OpsError keychain_identity_mismatch(UserId returned, UserId expected) {
    return make(KeychainIdentityMismatch, std::move(returned), std::move(expected));
  }
  static OpsError claimed_identity_not_member(UserId user) {
    return make(ClaimedIdentityNotMember, std::move(user));
  }
  static OpsError no_conflict_candidate(HashValue record_hash) {
    return make(NoConflictCandidate, std::move(record_hash));
  }
  // REQUIRES: `reason` is a fixed text.
  static OpsError conflict_unresolvable(std::string_view reason) { return make(ConflictUnresolvable, reason); }
  // REQUIRES: `reason` is a fixed text.
  static OpsError invalid_join_candidate(std::string_view reason) { return make(InvalidJoinCandidate, reason); }
  // `transaction_id`: the id's lower-case hex; `vault_path`: the journal's vault path as text, or
  // kAnotherPlatformPath.
  static OpsError pending_transaction(std::string transaction_id, std::string vault_path) {
    return make(PendingTransaction, std::move(transaction_id), std::move(vault_path));
  }
  static OpsError recovery_mismatch() { return make(RecoveryMismatch); }
  // REQUIRES: `file` is kVaultFile or kRatchetFile.
  static OpsError precondition_changed(std::string_view file) { return make(PreconditionChanged, file); }

  // REQUIRES: kind() == Store.
  const StoreError& store_error() const { return field<StoreError>(0); }
  // REQUIRES: kind() == Core.
  const CoreError& core_error() const { return field<CoreError>(0); }
  // REQUIRES: kind() == Crypto.
  const CryptoError& crypto_error() const { return field<CryptoError>(0); }
  // REQUIRES: kind() == Cord.
  const cord::Error& cord_error() const { return field<cord::Error>(0); }
  // REQUIRES: kind() == Hazmat.
  const RecordError& record_error() const { return field<RecordError>(0); }
  // REQUIRES: kind() == Keychain.
  const KeychainError& keychain_error() const { return field<KeychainError>(0); }
  // REQUIRES: kind() is AlreadyInitialized or MissingRatchetState.
  const Path& path() const { return field<Path>(0); }
  // The first user id the kind carries (for KeychainIdentityMismatch the returned one).
  // REQUIRES: the kind carries one.
  const UserId& user_id() const { return *find<UserId>(); }
  // REQUIRES: kind() == MultipleSelfSignedRoots.
  const std::vector<HashValue>& root_key_ids() const { return field<std::vector<HashValue>>(0); }
  // REQUIRES: kind() == Validation, and Issues is the type it was built with.
  template <class Issues>
  const Issues& issues() const {
    return field<Issues>(0);
  }

  // The message of each kind; a wrapped error shows its own message in place of its {}.
  static constexpr std::string_view form(Kind kind) {
    switch (kind) {
      case Store: return errors::kStoreWrapped;
      case Core: return errors::kCoreWrapped;
      case Crypto: return errors::kCryptoWrapped;
      case Cord: return errors::kCordWrapped;
      case Hazmat: return errors::kRecordWrapped;
      case Keychain: return errors::kWrappedAlone;
      case AlreadyInitialized: return "vault is already initialized at {}";
      case MissingRatchetState: return "workspace is missing ratchet state at {}";
      case Validation: return errors::kValidationFailed;
      case NotEffective: return "operation did not become effective: {}";
      case MissingEffectiveRoot: return "validated vault is missing an effective root";
      case NotMember: return "identity {} is not an effective member of this vault";
      case NoSelfSignedRoot:
        return "vault does not contain a self-signed root record that can identify its ratchet state";
      case MultipleSelfSignedRoots:
        return "vault contains multiple self-signed root records that could identify ratchet state: {}";
      case SecretMissing: return "secret is missing";
      case NotDecryptable: return "secret is not decryptable for this identity: {}";
      case InvalidEnvelope: return "authenticated secret plaintext has an invalid or unsupported envelope";
      case NotWritable: return "secret is not writable by this identity";
      case RecipientSlotMissing: return "recipient slot is missing for {}";
      case ReaderMissing: return "reader {} is missing an active user record";
      case WriterMissing: return "writer {} is missing an active user record";
      case UserMissing: return "user {} is missing an active user record";
      case UserHandleNotFound: return "user handle @{} does not exist";
      case UserHandleDangling: return "user handle @{} points to missing user {}";
      case InvalidUserHandle: return errors::kInvalidUserHandle;
      case InvalidVaultHandle: return "invalid vault handle {}: {}";
      case InvalidGroupHandle: return "invalid group handle {}: {}";
      case CannotAdminister: return "user {} cannot administer the principal graph";
      case CannotConfer: return "user {} cannot confer all of this group's authority";
      case KeychainIdentityMismatch: return "keychain returned identity {}, expected {}";
      case ClaimedIdentityNotMember: return "claimed identity {} is not a current member of this vault";
      case RolledBackPastBaseline: return "the vault has been rolled back past the invite baseline";
      case InviteRootMismatch: return "the invitation is for a different vault root";
      case RollbackProtectionRequired:
        return "a rollback-protected invitation is required to establish trust non-interactively";
      case NoConflictCandidate: return "no conflict candidate has record hash {}";
      case ConflictUnresolvable: return "conflict cannot be resolved: {}";
      case SecretConflicted: return "secret is conflicted and has no current value until the conflict is resolved";
      case CounterExhausted:
        return "the vault's Lamport counter is exhausted — a record carries an absurdly high counter, which no "
               "well-behaved client produces";
      case InvalidJoinCandidate: return "invalid join candidate: {}";
      case JoinRootMismatch: return "join request trusted root does not match this workspace";
      case JoinApprovalMismatch: return "join approval does not match its request";
      case JoinPlanStale: return "join approval plan is stale; reload and approve again";
      case EnrollmentConflict: return "a prepared Kubernetes enrollment transaction conflicts with local vault state";
      case PendingTransaction: return "a pending transaction {} from {} blocks writes for this vault";
      case RecoveryMismatch:
        return "transaction recovery found a file that matches neither its before nor after state";
      case PreconditionChanged: return "transaction precondition changed for {}; reload and retry";
      case NoPendingTransaction: return "there is no pending transaction for this vault";
      case BothRecoveryJournals: return "both legacy and current recovery journals exist for this vault";
    }
    return "operation error";
  }

 private:
  using ErrorValue::ErrorValue;
};

template <class T>
using OpsResult = platform::Result<T, OpsError>;

}  // namespace ostrel
