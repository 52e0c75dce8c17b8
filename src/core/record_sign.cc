#include "core/record_sign.h"

#include "core/ids.h"
#include "errors/try.h"

namespace ostrel::core {

CoreResult<cord::Buffer> to_vec_evolving32(const EvolvingBody& body) {
  cord::Buffer out;
  out.reserve(64);
  cord::Serializer s(out);
  if (auto r = cord::encode(s, body); !r) return std::unexpected(CoreError(r.error()));
  return out;
}

RecordResult<void> check_author(const crypto::Identity& author) {
  const crypto::UserIdCheck check = author.check_user_id();
  switch (check.outcome()) {
    case crypto::UserIdCheck::Error: return std::unexpected(RecordError(check.error()));
    case crypto::UserIdCheck::Mismatch:
      return std::unexpected(RecordError::signer_mismatch(check.mismatch().stored, check.mismatch().recomputed));
    case crypto::UserIdCheck::Ok: break;
  }
  return {};
}

RecordResult<VaultRecordV1> sign_record(const crypto::Identity& author, EvolvingBody body) {
  OSTREL_TRY(check_author(author));
  OSTREL_TRY_ASSIGN(auto message, to_vec_evolving32(body));
  std::vector<std::uint8_t> signature = author.sign(kRecordSignaturePurpose, message);
  return VaultRecordV1(std::move(body), Bytes(author.signing_public_key.begin(), author.signing_public_key.end()),
                       std::move(signature));
}

RecordResult<VaultRecordV1> SecretRecordV1::create_signed(const crypto::Identity& author, SecretSelectorV1 selector,
                                                          SealedPayloadV1 payload, std::uint64_t counter) {
  OSTREL_TRY_ASSIGN(auto id, core::derive_secret_id(selector));
  return sign_record(author, RecordBodyV1(SecretRecordV1{std::move(id), std::move(selector), std::move(payload), counter}));
}

RecordResult<VaultRecordV1> SecretDeletedRecordV1::create_signed(const crypto::Identity& author,
                                                                 SecretSelectorV1 selector, std::uint64_t counter) {
  OSTREL_TRY_ASSIGN(auto id, core::derive_secret_id(selector));
  return sign_record(author, RecordBodyV1(SecretDeletedRecordV1{std::move(id), std::move(selector), counter}));
}

}  // namespace ostrel::core
