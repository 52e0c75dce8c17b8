#include "core/validate/trust.h"

#include <variant>

#include "core/ids.h"
#include "core/record_sign.h"
#include "core/validate/trust_internal.h"
#include "crypto/signing.h"
#include "errors/try.h"

namespace ostrel {
namespace validate {
namespace {

// Whether the record's signature verifies under its own key. The signed bytes come from the
// kept encoding; only a record too long to encode has none, and then encoding its body reports
// the failure.
CoreResult<bool> verifies_under_own_key(const core::VaultRecordV1& record) {
  if (record.encoding().empty()) {
    OSTREL_TRY_ASSIGN(const cord::Buffer message, core::to_vec_evolving32(record.body()));
    return crypto::verify_signature(core::kRecordSignaturePurpose, record.signing_public_key(), message,
                                    record.signature());
  }
  return crypto::verify_signature(core::kRecordSignaturePurpose, record.signing_public_key(),
                                  record.signed_message(), record.signature());
}

}  // namespace

CoreResult<std::optional<RootIdentity>> self_signed_root(const core::VaultRecordV1& record,
                                                         bool signature_known_valid) {
  const core::RecordBodyV1* body = record.known_body();
  const auto* root = body != nullptr ? std::get_if<core::VaultRootRecordV1>(&body->variant()) : nullptr;
  if (root == nullptr) return std::nullopt;
  OSTREL_TRY_ASSIGN(UserId derived, core::user_id_from_public_keys(record.signing_public_key(), root->hpke_public_key));
  if (derived != root->user_id) return std::nullopt;
  if (!signature_known_valid) {
    OSTREL_TRY_ASSIGN(const bool valid, verifies_under_own_key(record));
    if (!valid) return std::nullopt;
  }
  OSTREL_TRY_ASSIGN(HashValue key_id, core::key_id(record.signing_public_key()));
  return RootIdentity{std::move(derived), record.signing_public_key(), root->hpke_public_key, std::move(key_id)};
}

CoreResult<RootSearch> search_trusted_root(std::span<const HashedRecord> work, const HashValue& trusted_root,
                                           const VerifiedHashes& verified) {
  std::optional<RootIdentity> found;
  bool ambiguous = false;
  // Every record is visited even once the search is ambiguous: a later root that cannot be
  // derived still fails the derivation.
  for (const HashedRecord& item : work) {
    const core::RecordBodyV1* body = item.record->known_body();
    if (body == nullptr || body->kind() != core::RecordBodyV1::VaultRoot) continue;
    OSTREL_TRY_ASSIGN(std::optional<RootIdentity> root, self_signed_root(*item.record, verified.contains(item.hash)));
    if (!root || root->key_id != trusted_root) continue;
    if (found) ambiguous = true;
    found = std::move(root);
  }
  if (!found) return RootSearch(std::unexpect, core::ValidationIssue::root_not_trusted());
  if (ambiguous) return RootSearch(std::unexpect, core::ValidationIssue::ambiguous_root());
  return RootSearch(std::move(*found));
}

}  // namespace validate

namespace trust {

OpsResult<HashValue> select_root(std::span<const core::VaultRecordV1> records) {
  std::set<HashValue> candidates;
  for (const core::VaultRecordV1& record : records) {
    OSTREL_TRY_ASSIGN(auto root, validate::self_signed_root(record, /*signature_known_valid=*/false));
    if (root) candidates.insert(std::move((root)->key_id));
  }
  if (candidates.empty()) return std::unexpected(OpsError::no_self_signed_root());
  if (candidates.size() > 1) {
    return std::unexpected(OpsError::multiple_self_signed_roots({candidates.begin(), candidates.end()}));
  }
  return *candidates.begin();
}

}  // namespace trust
}  // namespace ostrel
