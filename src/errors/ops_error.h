// OpsError: failures of the vault operations (opening, sessions, reading and writing secrets,
// journals). Wraps the errors of the layers below whole and adds kinds of its own. Plain data;
// the message is its only text form. Safe to copy and to pass between threads.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>
#include <utility>
#include <vector>

#include "errors/cord_error.h"
#include "errors/core_error.h"
#include "errors/crypto_error.h"
#include "errors/error_value.h"
#include "errors/identifiers.h"
#include "errors/shared_texts.h"
#include "errors/store_error.h"

namespace ostrel {

class OpsError : public errors::ErrorValue<OpsError> {
 public:
  // Numbered in the enumeration's declaration order (0 to 47); a kind is added here under its
  // number together with its factory and its line in `form`.
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
  OpsError(StoreError e) : OpsError(make(Store, std::move(e))) {}    // NOLINT: implicit on purpose
  OpsError(CoreError e) : OpsError(make(Core, std::move(e))) {}      // NOLINT: implicit on purpose
  OpsError(CryptoError e) : OpsError(make(Crypto, std::move(e))) {}  // NOLINT: implicit on purpose
  OpsError(cord::Error e) : OpsError(make(Cord, std::move(e))) {}    // NOLINT: implicit on purpose

  static OpsError missing_effective_root() { return make(MissingEffectiveRoot); }
  static OpsError no_self_signed_root() { return make(NoSelfSignedRoot); }
  // `root_key_ids`: the candidates' key ids, ascending.
  static OpsError multiple_self_signed_roots(std::vector<HashValue> root_key_ids) {
    return make(MultipleSelfSignedRoots, std::move(root_key_ids));
  }
  static OpsError invalid_envelope() { return make(InvalidEnvelope); }
  static OpsError recipient_slot_missing(UserId user) { return make(RecipientSlotMissing, std::move(user)); }
  static OpsError reader_missing(UserId user) { return make(ReaderMissing, std::move(user)); }
  static OpsError recovery_mismatch() { return make(RecoveryMismatch); }

  // REQUIRES: kind() == Store.
  const StoreError& store_error() const { return field<StoreError>(0); }
  // REQUIRES: kind() == Core.
  const CoreError& core_error() const { return field<CoreError>(0); }
  // REQUIRES: kind() == Crypto.
  const CryptoError& crypto_error() const { return field<CryptoError>(0); }
  // REQUIRES: kind() == Cord.
  const cord::Error& cord_error() const { return field<cord::Error>(0); }
  // REQUIRES: kind() is RecipientSlotMissing or ReaderMissing.
  const UserId& user_id() const { return field<UserId>(0); }
  // REQUIRES: kind() == MultipleSelfSignedRoots.
  const std::vector<HashValue>& root_key_ids() const { return field<std::vector<HashValue>>(0); }

  // The message of each kind; a wrapped error shows its own message in place of its {}.
  static constexpr std::string_view form(Kind kind) {
    switch (kind) {
      case Store: return errors::kStoreWrapped;
      case Core: return errors::kCoreWrapped;
      case Crypto: return errors::kCryptoWrapped;
      case Cord: return errors::kCordWrapped;
      case MissingEffectiveRoot: return "validated vault is missing an effective root";
      case NoSelfSignedRoot:
        return "vault does not contain a self-signed root record that can identify its ratchet state";
      case MultipleSelfSignedRoots:
        return "vault contains multiple self-signed root records that could identify ratchet state: {}";
      case InvalidEnvelope: return "authenticated secret plaintext has an invalid or unsupported envelope";
      case RecipientSlotMissing: return "recipient slot is missing for {}";
      case ReaderMissing: return "reader {} is missing an active user record";
      case RecoveryMismatch:
        return "transaction recovery found a file that matches neither its before nor after state";
    }
    return "operation error";
  }

 private:
  using ErrorValue::ErrorValue;
};

template <class T>
using OpsResult = std::expected<T, OpsError>;

}  // namespace ostrel
