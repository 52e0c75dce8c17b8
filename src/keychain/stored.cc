#include "keychain/stored.h"

#include <algorithm>
#include <utility>

namespace ostrel::keychain {
namespace {

using IdentityStore = std::variant<SealedIdentityV1>;
using CurrentUserStore = std::variant<CurrentUserV1>;
using KeychainStore = std::variant<KeychainRecords>;

}  // namespace

const SealedIdentityV1* identity_of(const KeychainRecordV1& record) {
  const KeychainRecordBody* body = record.known();
  return body != nullptr ? std::get_if<SealedIdentityV1>(body) : nullptr;
}

const CurrentUserV1* current_user_of(const KeychainRecordV1& record) {
  const KeychainRecordBody* body = record.known();
  return body != nullptr ? std::get_if<CurrentUserV1>(body) : nullptr;
}

std::vector<const KeychainRecordV1*> canonical_order(const KeychainRecords& records) {
  std::vector<std::pair<cord::Buffer, const KeychainRecordV1*>> keyed;
  keyed.reserve(records.size());
  for (const KeychainRecordV1& r : records) {
    auto bytes = cord::to_vec(r);
    keyed.emplace_back(bytes ? std::move(*bytes) : cord::Buffer(), &r);
  }
  std::ranges::sort(keyed, [](const auto& a, const auto& b) { return cord::bytes_less(a.first, b.first); });
  std::vector<const KeychainRecordV1*> out;
  out.reserve(keyed.size());
  for (const auto& [bytes, record] : keyed) out.push_back(record);
  return out;
}

cord::Result<cord::Buffer> encode_identity_store(const SealedIdentityV1& identity) {
  return cord::to_vec(IdentityStore(identity));
}

cord::Result<SealedIdentityV1> decode_identity_store(std::span<const std::uint8_t> payload) {
  OSTREL_TRY_ASSIGN(IdentityStore store, cord::from_slice<IdentityStore>(payload));
  return std::get<0>(std::move(store));
}

cord::Result<cord::Buffer> encode_current_user_store(const CurrentUserV1& selector) {
  return cord::to_vec(CurrentUserStore(selector));
}

cord::Result<CurrentUserV1> decode_current_user_store(std::span<const std::uint8_t> payload) {
  OSTREL_TRY_ASSIGN(CurrentUserStore store, cord::from_slice<CurrentUserStore>(payload));
  return std::get<0>(std::move(store));
}

cord::Result<cord::Buffer> encode_keychain_store(const KeychainRecords& records) {
  return cord::to_vec_versioned(records);
}

cord::Result<KeychainRecords> decode_keychain_store(std::span<const std::uint8_t> payload) {
  OSTREL_TRY_ASSIGN(KeychainStore store, cord::from_slice<KeychainStore>(payload));
  return std::get<0>(std::move(store));
}

cord::Result<LocalIdentityV1> decode_local_identity(std::span<const std::uint8_t> plaintext) {
  return cord::from_slice<LocalIdentityV1>(plaintext);
}

cord::Result<cord::Buffer> encode_identity_aad(std::span<const std::uint8_t> root, std::span<const std::uint8_t> user) {
  cord::Buffer out;
  out.reserve(8 + root.size() + user.size());
  cord::Serializer s(out);
  OSTREL_TRY(s.serialize_bytes(root, cord::WidthHint::None));
  OSTREL_TRY(s.serialize_bytes(user, cord::WidthHint::None));
  return out;
}

}  // namespace ostrel::keychain
