#include "errors/ops_error.h"

#include "errors/text_form.h"

namespace ostrel {

std::string OpsError::message() const {
  switch (kind_) {
    case Store: return "store error: " + store_error().message();
    case Core: return "core error: " + core_error().message();
    case Crypto: return "crypto error: " + crypto_error().message();
    case Cord: return "Cord error: " + cord_error().message();
    case MissingEffectiveRoot: return "validated vault is missing an effective root";
    case NoSelfSignedRoot:
      return "vault does not contain a self-signed root record that can identify its ratchet state";
    case MultipleSelfSignedRoots:
      return "vault contains multiple self-signed root records that could identify ratchet state: " +
             text::debug_list(root_key_ids());
    case InvalidEnvelope:
      return "authenticated secret plaintext has an invalid or unsupported envelope";
    case RecipientSlotMissing: return "recipient slot is missing for " + user_id().debug();
    case ReaderMissing: return "reader " + user_id().debug() + " is missing an active user record";
    case RecoveryMismatch:
      return "transaction recovery found a file that matches neither its before nor after state";
  }
  return "operation error";
}

}  // namespace ostrel
