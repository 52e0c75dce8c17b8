#include "core/records.h"

#include "crypto/domain_hash.h"

namespace ostrel::core {

EntityKey RecordBodyV1::record_key(const UserId& author) const {
  struct Key {
    const UserId& author;
    EntityKey operator()(const VaultRootRecordV1&) const { return entity::VaultRoot{}; }
    EntityKey operator()(const EntryPointRecordV1&) const { return entity::EntryPoint{author}; }
    EntityKey operator()(const UserRecordV1& b) const { return entity::User{b.user_id}; }
    EntityKey operator()(const UserHandleRecordV1& b) const { return entity::UserHandle{b.handle_id}; }
    EntityKey operator()(const GroupRecordV1& b) const { return entity::Group{b.group_id}; }
    EntityKey operator()(const GroupDeletedRecordV1& b) const { return entity::Group{b.group_id}; }
    EntityKey operator()(const GroupMemberRecordV1& b) const { return entity::GroupMember{b.group_member_id}; }
    EntityKey operator()(const GroupMemberDeletedRecordV1& b) const { return entity::GroupMember{b.group_member_id}; }
    EntityKey operator()(const GrantRecordV1& b) const { return entity::Grant{b.grant_id}; }
    EntityKey operator()(const GrantDeletedRecordV1& b) const { return entity::Grant{b.grant_id}; }
    EntityKey operator()(const UserDeletedRecordV1& b) const { return entity::User{b.user_id}; }
    EntityKey operator()(const SecretRecordV1& b) const { return entity::Secret{b.secret_id}; }
    EntityKey operator()(const SecretDeletedRecordV1& b) const { return entity::Secret{b.secret_id}; }
    EntityKey operator()(const VaultHandleRecordV1& b) const { return entity::VaultHandle{b.handle_id}; }
  };
  return std::visit(Key{author}, variant());
}

std::uint64_t RecordBodyV1::counter() const {
  return std::visit(
      [](const auto& b) -> std::uint64_t {
        if constexpr (requires { b.counter; }) {
          return b.counter;
        } else {
          return 0;
        }
      },
      variant());
}

const SecretId* RecordBodyV1::secret_id() const {
  if (const auto* s = std::get_if<SecretRecordV1>(this)) return &s->secret_id;
  if (const auto* d = std::get_if<SecretDeletedRecordV1>(this)) return &d->secret_id;
  return nullptr;
}

const SecretSelectorV1* RecordBodyV1::secret_selector() const {
  if (const auto* s = std::get_if<SecretRecordV1>(this)) return &s->selector;
  if (const auto* d = std::get_if<SecretDeletedRecordV1>(this)) return &d->selector;
  return nullptr;
}

VaultRecordV1::VaultRecordV1() {
  static const std::shared_ptr<const Data> kEmpty = [] {
    auto d = std::make_shared<Data>();
    cord::Buffer out;
    cord::Serializer s(out);
    if (cord::detail::encode_fields(s, Data::cord_fields(*d))) {
      d->owned.assign(out.begin(), out.end());
      d->encoding = d->owned;
    }
    return d;
  }();
  data_ = kEmpty;
}

VaultRecordV1::VaultRecordV1(EvolvingBody body, Bytes signing_public_key, Bytes signature) {
  auto d = std::make_shared<Data>();
  d->body = std::move(body);
  d->signing_public_key = std::move(signing_public_key);
  d->signature = std::move(signature);
  cord::Buffer out;
  cord::Serializer s(out);
  if (cord::detail::encode_fields(s, Data::cord_fields(*d))) {
    d->owned.assign(out.begin(), out.end());
    d->encoding = d->owned;
  }
  data_ = std::move(d);
}

cord::ByteView VaultRecordV1::signed_message() const {
  const cord::ByteView e = data_->encoding;
  if (e.size() < 4) return {};
  const std::size_t b = (std::size_t{e[0]} << 24) | (std::size_t{e[1]} << 16) | (std::size_t{e[2]} << 8) | std::size_t{e[3]};
  return cord::ByteView(e.data(), std::min(e.size(), 4 + b));
}

HashValue record_hash(const VaultRecordV1& record) {
  return crypto::domain_hash("ostrel.record-hash.v1", record.encoding());
}

}  // namespace ostrel::core
