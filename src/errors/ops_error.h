// OpsError: failures of the vault operations (opening, sessions, reading and writing secrets,
// journals). Wraps the errors of the layers below unchanged and adds kinds of its own. Plain data;
// the message is its only text form. Safe to move between threads.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <variant>
#include <vector>

#include "errors/cord_error.h"
#include "errors/core_error.h"
#include "errors/crypto_error.h"
#include "errors/identifiers.h"
#include "errors/store_error.h"

namespace ostrel {

class OpsError {
 public:
  // Numbered in the enumeration's declaration order (0 to 47); a kind is added here under its
  // number together with its factory and its message.
  enum Kind : std::uint8_t {
    Store = 0,
    Core = 1,
    Crypto = 2,
    Cord = 3,
    MissingEffectiveRoot = 10,
    NoSelfSignedRoot = 12,
    MultipleSelfSignedRoots = 13,
    InvalidEnvelope = 16,
    RecipientSlotMissing = 18,
    ReaderMissing = 19,
    RecoveryMismatch = 44,
  };

  // Wrapping an error of a lower layer keeps it whole.
  OpsError(StoreError e) : OpsError(Store, std::move(e)) {}    // NOLINT: implicit on purpose
  OpsError(CoreError e) : OpsError(Core, std::move(e)) {}      // NOLINT: implicit on purpose
  OpsError(CryptoError e) : OpsError(Crypto, std::move(e)) {}  // NOLINT: implicit on purpose
  OpsError(cord::Error e) : OpsError(Cord, std::move(e)) {}    // NOLINT: implicit on purpose

  static OpsError missing_effective_root() { return OpsError(MissingEffectiveRoot, {}); }
  static OpsError no_self_signed_root() { return OpsError(NoSelfSignedRoot, {}); }
  // `root_key_ids`: the candidates' key ids, ascending.
  static OpsError multiple_self_signed_roots(std::vector<HashValue> root_key_ids) {
    return OpsError(MultipleSelfSignedRoots, std::move(root_key_ids));
  }
  static OpsError invalid_envelope() { return OpsError(InvalidEnvelope, {}); }
  static OpsError recipient_slot_missing(UserId user) {
    return OpsError(RecipientSlotMissing, std::move(user));
  }
  static OpsError reader_missing(UserId user) { return OpsError(ReaderMissing, std::move(user)); }
  static OpsError recovery_mismatch() { return OpsError(RecoveryMismatch, {}); }

  Kind kind() const { return kind_; }
  // REQUIRES: kind() == Store.
  const StoreError& store_error() const { return std::get<StoreError>(payload_); }
  // REQUIRES: kind() == Core.
  const CoreError& core_error() const { return std::get<CoreError>(payload_); }
  // REQUIRES: kind() == Crypto.
  const CryptoError& crypto_error() const { return std::get<CryptoError>(payload_); }
  // REQUIRES: kind() == Cord.
  const cord::Error& cord_error() const { return std::get<cord::Error>(payload_); }
  // REQUIRES: kind() is RecipientSlotMissing or ReaderMissing.
  const UserId& user_id() const { return std::get<UserId>(payload_); }
  // REQUIRES: kind() == MultipleSelfSignedRoots.
  const std::vector<HashValue>& root_key_ids() const {
    return std::get<std::vector<HashValue>>(payload_);
  }

  // The message of the kind; a wrapped error shows its own message behind the kind's prefix.
  std::string message() const;

 private:
  // One alternative per shape of payload; kinds of the same shape share it.
  using Payload = std::variant<std::monostate, StoreError, CoreError, CryptoError, cord::Error, UserId,
                               std::vector<HashValue>>;

  OpsError(Kind kind, Payload payload) : kind_(kind), payload_(std::move(payload)) {}

  Kind kind_;
  Payload payload_;
};

template <class T>
using OpsResult = std::expected<T, OpsError>;

}  // namespace ostrel
