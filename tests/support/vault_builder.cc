#include "support/vault_builder.h"

#include <cstdlib>

#include "core/ids.h"
#include "crypto/domain_hash.h"

namespace ostrel::testing {

using namespace core;

namespace {
Bytes bytes_of(const std::array<std::uint8_t, 32>& a) { return Bytes(a.begin(), a.end()); }
IdSeed seed_of(std::uint8_t b) { return IdSeed{Bytes(16, b)}; }
template <class T>
T must(std::expected<T, CoreError> r) {
  if (!r) std::abort();
  return std::move(*r);
}
}  // namespace

VaultBuilder::VaultBuilder(const crypto::Identity& root) : root_(root.clone()) {
  records_.push_back(root_record(root_));
  authors_.push_back(root_.user_id);
}

validate::RootIdentity VaultBuilder::root_identity() const {
  return validate::RootIdentity{root_.user_id, bytes_of(root_.signing_public_key), bytes_of(root_.hpke_public_key),
                                must(core::key_id(root_.signing_public_key))};
}

const VaultRecordV1& VaultBuilder::add(const crypto::Identity& author, EvolvingBody body) {
  records_.push_back(signed_record(author, std::move(body)));
  authors_.push_back(author.user_id);
  return records_.back();
}

void VaultBuilder::add_member(const crypto::Identity& admin, const crypto::Identity& user, std::uint64_t counter) {
  add_user(admin, user, counter);
  add_entry_point(user, counter);
}

const VaultRecordV1& VaultBuilder::add_user(const crypto::Identity& admin, const crypto::Identity& user,
                                            std::uint64_t counter) {
  return add(admin, RecordBodyV1(UserRecordV1{user.user_id, bytes_of(user.signing_public_key),
                                              bytes_of(user.hpke_public_key), counter}));
}

const VaultRecordV1& VaultBuilder::add_entry_point(const crypto::Identity& user, std::uint64_t counter) {
  return add(user, RecordBodyV1(EntryPointRecordV1{root_.user_id, bytes_of(user.hpke_public_key), counter}));
}

const VaultRecordV1& VaultBuilder::add_user_handle(const crypto::Identity& admin, const crypto::Identity& user,
                                                   const std::string& handle, std::uint64_t counter) {
  return add(admin, RecordBodyV1(UserHandleRecordV1{must(core::derive_user_handle_id(handle)), handle, user.user_id, counter}));
}

const VaultRecordV1& VaultBuilder::add_vault_handle(const crypto::Identity& admin, const std::string& handle,
                                                    std::uint64_t counter) {
  return add(admin, RecordBodyV1(VaultHandleRecordV1{must(core::derive_vault_handle_id(handle)), handle, counter}));
}

GroupId VaultBuilder::add_group(const crypto::Identity& admin, const std::string& handle, std::uint8_t seed,
                                std::uint64_t counter) {
  const IdSeed s = seed_of(seed);
  const GroupId id(must(crypto::domain_hash_cord("ostrel.group.v1", s)));
  add(admin, RecordBodyV1(GroupRecordV1{id, s, handle, counter}));
  return id;
}

GroupMemberId VaultBuilder::add_membership(const crypto::Identity& admin, const GroupId& group,
                                           const PrincipalRefV1& member, std::uint64_t counter) {
  const GroupMemberId id = must(core::derive_group_member_id(GroupMemberIdInputV1{group, member}));
  add(admin, RecordBodyV1(GroupMemberRecordV1{id, group, member, counter}));
  return id;
}

GrantId VaultBuilder::add_grant(const crypto::Identity& signer, const PrincipalRefV1& grantee,
                                const GrantPermissionV1& permission, std::uint8_t seed, std::uint64_t counter) {
  const IdSeed s = seed_of(seed);
  const GrantId id(must(crypto::domain_hash_cord("ostrel.grant.v1", s)));
  add(signer, RecordBodyV1(GrantRecordV1{id, s, grantee, permission, counter}));
  return id;
}

const VaultRecordV1& VaultBuilder::delete_user(const crypto::Identity& admin, const UserId& user, std::uint64_t counter) {
  return add(admin, RecordBodyV1(UserDeletedRecordV1{user, std::nullopt, counter}));
}

const VaultRecordV1& VaultBuilder::delete_group(const crypto::Identity& admin, const GroupId& group,
                                                std::uint64_t counter) {
  return add(admin, RecordBodyV1(GroupDeletedRecordV1{group, counter}));
}

const VaultRecordV1& VaultBuilder::delete_membership(const crypto::Identity& admin, const GroupId& group,
                                                     const PrincipalRefV1& member, std::uint64_t counter) {
  const GroupMemberId id = must(core::derive_group_member_id(GroupMemberIdInputV1{group, member}));
  return add(admin, RecordBodyV1(GroupMemberDeletedRecordV1{id, group, member, counter}));
}

const VaultRecordV1& VaultBuilder::delete_grant(const crypto::Identity& signer, const GrantId& grant,
                                                const GrantPermissionV1& permission, std::uint64_t counter) {
  return add(signer, RecordBodyV1(GrantDeletedRecordV1{grant, permission, counter}));
}

const VaultRecordV1& VaultBuilder::add_secret(const crypto::Identity& author, const SecretSelectorV1& selector,
                                              std::uint64_t counter, const std::vector<UserId>& readers,
                                              std::uint8_t nonce) {
  SealedPayloadV1 payload{Bytes(12, nonce), Bytes(32, 0xcc), {}};
  for (const UserId& r : readers) payload.recipient_slots.push_back(RecipientSlotV1{r, Bytes(32, 1), Bytes(48, 2)});
  auto record = SecretRecordV1::create_signed(author, selector, std::move(payload), counter);
  if (!record) std::abort();
  records_.push_back(std::move(*record));
  authors_.push_back(author.user_id);
  return records_.back();
}

const VaultRecordV1& VaultBuilder::delete_secret(const crypto::Identity& author, const SecretSelectorV1& selector,
                                                 std::uint64_t counter) {
  auto record = SecretDeletedRecordV1::create_signed(author, selector, counter);
  if (!record) std::abort();
  records_.push_back(std::move(*record));
  authors_.push_back(author.user_id);
  return records_.back();
}

std::vector<VaultRecordV1> VaultBuilder::file_order() const {
  auto bytes = cord::to_vec_versioned(record_set());
  if (!bytes) std::abort();
  auto store = cord::from_slice<VaultStore>(*bytes);
  if (!store) std::abort();
  return std::move(std::get<0>(*store).items());
}

std::vector<validate::EffectiveRecord> VaultBuilder::effective() const {
  std::vector<validate::EffectiveRecord> out;
  for (std::size_t i = 0; i < records_.size(); ++i) {
    const VaultRecordV1& r = records_[i];
    const RecordBodyV1* body = r.known_body();
    if (body == nullptr) continue;
    out.push_back(validate::EffectiveRecord{body->record_key(authors_[i]), r, record_hash(r), authors_[i]});
  }
  return out;
}

KeyspaceSelectorV1 any_keyspace() { return KeyspaceSelectorV1{tuple_matcher::Any{}, {}}; }
KeyspaceSelectorV1 prefix_keyspace(std::vector<cord::Text> segments) {
  return KeyspaceSelectorV1{tuple_matcher::Prefix{std::move(segments)}, {}};
}
GrantPermissionV1 read_grant(KeyspaceSelectorV1 k) { return grant_permission::Read{std::move(k)}; }
GrantPermissionV1 write_grant(KeyspaceSelectorV1 k) { return grant_permission::Write{std::move(k)}; }
GrantPermissionV1 manage_grant(KeyspaceSelectorV1 k, std::vector<KeyspaceGrantClassV1> classes) {
  return ManageKeyspaceGrantV1{std::move(k), std::move(classes)};
}
GrantPermissionV1 admin_grant() { return grant_permission::Admin{}; }

}  // namespace ostrel::testing
