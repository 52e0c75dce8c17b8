#include "core/records.h"

#include "crypto/domain_hash.h"

#include <algorithm>
#include <optional>

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

namespace {

// Encodes a made record's fields into its own encoding; left empty when they cannot be encoded.
template <class Data>
void encode_into(Data& d) {
  cord::Buffer out;
  cord::Serializer s(out);
  if (cord::detail::encode_fields(s, Data::cord_fields(d))) d.encoding = ByteString(cord::ByteView(out));
}

}  // namespace

VaultRecordV1::VaultRecordV1() {
  static const std::shared_ptr<const Data> kEmpty = [] {
    auto d = std::make_shared<Data>();
    d->body = EvolvingBody();  // a known body of the first kind, its fields empty
    encode_into(*d);
    return d;
  }();
  data_ = kEmpty;
}

VaultRecordV1::VaultRecordV1(EvolvingBody body, ByteString signing_public_key, ByteString signature) {
  auto d = std::make_shared<Data>();
  d->body = std::move(body);
  d->signing_public_key = std::move(signing_public_key);
  d->signature = std::move(signature);
  encode_into(*d);
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

namespace ostrel::core {

bool VaultRecordV1::relocate(const VaultRecordV1& kept, VaultRecordV1&& twin) {
  if (kept.data_ == twin.data_) return true;
  if (!std::ranges::equal(kept.encoding(), twin.encoding())) return false;
  // Equal encodings decode alike, so both bodies hold the same alternative. Every holder shares
  // `kept`'s one representation, which was made mutable and only its owner changes it here.
  auto& to = const_cast<Data&>(*kept.data_);
  auto& from = const_cast<Data&>(*twin.data_);
  to.body.assign_in_place(std::move(from.body));
  to.signing_public_key = std::move(from.signing_public_key);
  to.signature = std::move(from.signature);
  to.encoding = std::move(from.encoding);
  to.owner = std::move(from.owner);
  return true;
}

}  // namespace ostrel::core

namespace ostrel::cord {
namespace {

// The length of the record at the reader's position, from its three length prefixes (the body's
// slot, the key, the signature), each within the reader's bound; none when they do not fit.
std::optional<std::size_t> record_extent(const Deserializer& d) {
  Deserializer scan(std::span<const std::uint8_t>(d.position(), d.remaining()));
  for (int field = 0; field < 3; ++field) {
    auto len = scan.read_len_width(Width::W32, Deserializer::kMaxLength);
    if (!len || !scan.take_bytes(*len)) return std::nullopt;
  }
  return d.remaining() - scan.remaining();
}

}  // namespace

Status Codec<core::VaultRecordV1>::decode(Deserializer& d, core::VaultRecordV1& out, WidthHint) {
  auto data = std::make_shared<Data>();
  // Decodes the fields with views of the reader's input.
  auto decode_viewing = [](Deserializer& in, Data& fields) {
    const bool may_view = in.may_view();
    in.set_may_view(true);
    Status st = detail::decode_fields(in, Data::cord_fields(fields));
    in.set_may_view(may_view);
    return st;
  };
  if (d.owner()) {
    // The input outlives the record: the fields and the encoding view it.
    const std::uint8_t* start = d.position();
    OSTREL_TRY(decode_viewing(d, *data));
    data->owner = d.owner();
    data->encoding = ByteString::view(ByteView(start, d.position()));
  } else if (const std::optional<std::size_t> extent = record_extent(d)) {
    // No one keeps the input: the record copies its own bytes first and views those. The copy is
    // read exactly as the input would be (same bytes, same depth), so errors are the same.
    data->encoding = ByteString(ByteView(d.position(), *extent));
    Deserializer own(data->encoding.span());
    own.set_depth(d.depth());
    OSTREL_TRY(decode_viewing(own, *data));
    OSTREL_TRY(d.take_bytes(*extent));
  } else {
    // Too short for its own lengths: reading it in place fails, with the error it fails with.
    OSTREL_TRY(detail::decode_fields(d, Data::cord_fields(*data)));
    return std::unexpected(Error::UnexpectedEnd);
  }
  out = core::VaultRecordV1(std::move(data));
  return {};
}

}  // namespace ostrel::cord
