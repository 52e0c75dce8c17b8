// IoError, the I/O failure value of files and locks, and StoreError, the error enumeration of the
// workspace store, with their texts. Plain data; safe to copy and to pass between threads.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/result.h"
#include "errors/cord_error.h"
#include "errors/core_error.h"
#include "errors/error_value.h"
#include "errors/shared_texts.h"
#include "ids/identifiers.h"

namespace ostrel {

// An operating system's error code (errno); shows as the system's description of it followed
// by " (os error N)".
struct OsCode {
  int code = 0;
  friend bool operator==(const OsCode&, const OsCode&) = default;
};
void append_field(std::string& out, const OsCode& code);

// A failed file or lock call: a kind, and either the operating system's error code or a message
// the store wrote itself.
class [[nodiscard]] IoError : public errors::ErrorValue<IoError> {
 public:
  // The kinds the store and the keychain act on; everything else is Other and only passed on.
  enum Kind : std::uint8_t {
    NotFound,          // ENOENT, ENOTDIR
    PermissionDenied,  // EACCES, EPERM
    AlreadyExists,     // EEXIST
    WouldBlock,        // lock contention: another holder keeps a conflicting lock
    InvalidInput,      // "not a regular file"
    InvalidData,       // size limits, read-back mismatches
    Other,
  };

  IoError(Kind kind, std::string message) : IoError(make(kind, std::move(message))) {}
  static IoError from_os(int code);

  // The errno value, when the operating system reported the failure.
  std::optional<int> os_code() const {
    if (const OsCode* c = find<OsCode>()) return c->code;
    return std::nullopt;
  }

  // Every kind shows its one field: the store's own message, or the system's description.
  static constexpr std::string_view form(Kind) { return "{}"; }

 private:
  using ErrorValue::ErrorValue;
};

template <class T>
using IoResult = platform::Result<T, IoError>;

class [[nodiscard]] StoreError : public errors::ErrorValue<StoreError> {
 public:
  using Path = std::filesystem::path;

  // The thirteen kinds, in their fixed order.
  enum Kind : std::uint8_t {
    Io = 0,
    VaultMissing = 1,
    VaultInvalid = 2,
    Cord = 3,
    Core = 4,
    WorkspaceNotFound = 5,
    AmbiguousWorkspace = 6,
    InvalidWorkspaceRoot = 7,
    WorkspaceLockHeld = 8,
    RatchetInvalid = 9,
    TransactionInvalid = 10,
    PendingTransaction = 11,
    TrustRootMismatch = 12,
  };

  static StoreError io(Path path, IoError error) { return make(Io, std::move(path), std::move(error)); }
  static StoreError vault_missing(Path path) { return make(VaultMissing, std::move(path)); }
  // The store's own VaultInvalid for the vault file of a WorkspacePaths is store::vault_invalid.
  static StoreError vault_invalid(Path vault_file, CoreError error) {
    return make(VaultInvalid, std::move(vault_file), std::move(error));
  }
  static StoreError from_cord(cord::Error error) { return make(Cord, std::move(error)); }
  static StoreError from_core(CoreError error) { return make(Core, std::move(error)); }
  // Where the search started.
  static StoreError workspace_not_found(Path start) { return make(WorkspaceNotFound, std::move(start)); }
  static StoreError ambiguous_workspace(Path start, Path nested, Path parent) {
    return make(AmbiguousWorkspace, std::move(start), std::move(nested), std::move(parent));
  }
  static StoreError invalid_workspace_root(Path path) { return make(InvalidWorkspaceRoot, std::move(path)); }
  // `lock_file`: the lock that stayed held, state.lock included.
  static StoreError workspace_lock_held(Path lock_file) {
    return make(WorkspaceLockHeld, std::move(lock_file));
  }
  static StoreError ratchet_invalid(Path path, cord::Error error) {
    return make(RatchetInvalid, std::move(path), std::move(error));
  }
  static StoreError transaction_invalid(Path path, std::string reason) {
    return make(TransactionInvalid, std::move(path), std::move(reason));
  }
  static StoreError pending_transaction(Path path) { return make(PendingTransaction, std::move(path)); }
  // `file`: the root recorded in the file; `requested`: the root the caller asked for.
  static StoreError trust_root_mismatch(HashValue file, HashValue requested) {
    return make(TrustRootMismatch, std::move(file), std::move(requested));
  }

  // The path the error names (for AmbiguousWorkspace the start). REQUIRES: the kind has one.
  const Path& path() const { return field<Path>(0); }
  // REQUIRES: kind() == AmbiguousWorkspace.
  const Path& nested() const { return field<Path>(1); }
  const Path& parent() const { return field<Path>(2); }
  // REQUIRES: kind() == Io.
  const IoError& io_error() const { return field<IoError>(1); }
  // REQUIRES: kind() is VaultInvalid or Core.
  const CoreError& core_error() const { return *find<CoreError>(); }
  // REQUIRES: kind() is Cord or RatchetInvalid.
  const cord::Error& cord_error() const { return *find<cord::Error>(); }
  // REQUIRES: kind() == TransactionInvalid.
  const std::string& reason() const { return field<std::string>(1); }
  // REQUIRES: kind() == TrustRootMismatch.
  const HashValue& file_root() const { return field<HashValue>(0); }
  const HashValue& requested_root() const { return field<HashValue>(1); }

  static constexpr std::string_view form(Kind kind) {
    switch (kind) {
      case Io: return errors::kIoAt;
      case VaultMissing: return "vault file is missing at {}";
      case VaultInvalid: return "vault file {} is invalid: {}";
      case Cord: return errors::kCordWrapped;
      case Core: return errors::kCoreWrapped;
      case WorkspaceNotFound: return "workspace not found from {}";
      case AmbiguousWorkspace:
        return "ambiguous Ostrel workspace from {}: found nested workspace at {} and parent workspace at "
               "{}; pass an explicit vault path";
      case InvalidWorkspaceRoot: return "invalid workspace root {}: missing .ostrel directory";
      case WorkspaceLockHeld: return "workspace lock is already held at {}";
      case RatchetInvalid: return "ratchet file {} is invalid: {}";
      case TransactionInvalid: return "transaction file {} is invalid: {}";
      case PendingTransaction: return "a pending transaction at {} blocks rollback-state writes";
      case TrustRootMismatch: return "trust root mismatch: file has {}, requested {}";
    }
    return "store error";
  }

 private:
  using ErrorValue::ErrorValue;
};

template <class T>
using StoreResult = platform::Result<T, StoreError>;

}  // namespace ostrel
