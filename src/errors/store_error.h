// IoError, the I/O failure value of files and locks, and StoreError, the error enumeration of the
// workspace store, with their texts. Plain data; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "errors/cord_error.h"
#include "errors/core_error.h"
#include "errors/identifiers.h"

namespace ostrel {

namespace store {
struct WorkspacePaths;
}

// A failed file or lock call: a kind, and either the operating system's error code or a message
// the store wrote itself.
class IoError {
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

  IoError(Kind kind, std::string message) : kind_(kind), payload_(std::move(message)) {}
  static IoError from_os(int code);

  Kind kind() const { return kind_; }
  // The errno value, when the operating system reported the failure.
  std::optional<int> os_code() const;

  // The store's own message, or the system's description followed by " (os error N)".
  std::string message() const;

  friend bool operator==(const IoError&, const IoError&) = default;

 private:
  IoError(Kind kind, int code) : kind_(kind), payload_(code) {}

  Kind kind_;
  std::variant<int, std::string> payload_;
};

template <class T>
using IoResult = std::expected<T, IoError>;

// A path as text: its bytes as UTF-8, each ill-formed sequence replaced by U+FFFD.
std::string path_text(const std::filesystem::path& path);

class StoreError {
 public:
  using Path = std::filesystem::path;

  // The thirteen variants, in their fixed order.
  struct Io { Path path; IoError error; friend bool operator==(const Io&, const Io&) = default; };
  struct VaultMissing { Path path; friend bool operator==(const VaultMissing&, const VaultMissing&) = default; };
  struct VaultInvalid { Path path; CoreError error; friend bool operator==(const VaultInvalid&, const VaultInvalid&) = default; };
  struct Cord { cord::Error error; friend bool operator==(const Cord&, const Cord&) = default; };
  struct Core { CoreError error; friend bool operator==(const Core&, const Core&) = default; };
  struct WorkspaceNotFound { Path path; friend bool operator==(const WorkspaceNotFound&, const WorkspaceNotFound&) = default; };
  struct AmbiguousWorkspace {
    Path start;
    Path nested;
    Path parent;
    friend bool operator==(const AmbiguousWorkspace&, const AmbiguousWorkspace&) = default;
  };
  struct InvalidWorkspaceRoot { Path path; friend bool operator==(const InvalidWorkspaceRoot&, const InvalidWorkspaceRoot&) = default; };
  struct WorkspaceLockHeld { Path path; friend bool operator==(const WorkspaceLockHeld&, const WorkspaceLockHeld&) = default; };
  struct RatchetInvalid { Path path; cord::Error error; friend bool operator==(const RatchetInvalid&, const RatchetInvalid&) = default; };
  struct TransactionInvalid { Path path; std::string reason; friend bool operator==(const TransactionInvalid&, const TransactionInvalid&) = default; };
  struct PendingTransaction { Path path; friend bool operator==(const PendingTransaction&, const PendingTransaction&) = default; };
  struct TrustRootMismatch {
    HashValue file;       // the root recorded in the file
    HashValue requested;  // the root the caller asked for
    friend bool operator==(const TrustRootMismatch&, const TrustRootMismatch&) = default;
  };

  using Variant = std::variant<Io, VaultMissing, VaultInvalid, Cord, Core, WorkspaceNotFound,
                               AmbiguousWorkspace, InvalidWorkspaceRoot, WorkspaceLockHeld,
                               RatchetInvalid, TransactionInvalid, PendingTransaction,
                               TrustRootMismatch>;

  // Any variant converts: `return StoreError::VaultMissing{path};`.
  template <class V>
    requires(!std::is_same_v<std::remove_cvref_t<V>, StoreError> &&
             std::is_constructible_v<Variant, V &&>)
  StoreError(V&& v) : variant_(std::forward<V>(v)) {}  // NOLINT: implicit on purpose

  static StoreError io(Path path, IoError error) { return Io{std::move(path), std::move(error)}; }
  // VaultInvalid naming the paths' vault file, also when the bytes that failed came from memory.
  // Defined beside WorkspacePaths (store/paths.cc).
  static StoreError vault_invalid(const store::WorkspacePaths& paths, CoreError error);

  // The variant's position in the table (0 for Io ... 12 for TrustRootMismatch).
  std::size_t index() const { return variant_.index(); }
  template <class V>
  bool is() const {
    return std::holds_alternative<V>(variant_);
  }
  // REQUIRES: is<V>().
  template <class V>
  const V& as() const {
    return std::get<V>(variant_);
  }
  const Variant& variant() const { return variant_; }

  std::string message() const;

  friend bool operator==(const StoreError&, const StoreError&) = default;

 private:
  Variant variant_;
};

template <class T>
using StoreResult = std::expected<T, StoreError>;

}  // namespace ostrel
