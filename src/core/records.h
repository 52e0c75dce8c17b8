// Vault records: the fourteen record kinds, the signed record VaultRecordV1 and the vault store
// that the vault file holds. Plain values; a record is not changed once made.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "cord/codec.h"
#include "cord/evolving.h"
#include "cord/set.h"
#include "core/access.h"
#include "core/entity_key.h"
#include "core/secret_value.h"
#include "errors/record_error.h"
#include "ids/identifiers.h"

namespace ostrel::crypto {
struct Identity;
}  // namespace ostrel::crypto
namespace ostrel::core {
class VaultRecordV1;
}  // namespace ostrel::core
namespace ostrel::cord {
template <>
struct Codec<core::VaultRecordV1>;
}  // namespace ostrel::cord

namespace ostrel::core {

using cord::Bytes;
using cord::ByteString;
using cord::Text;
class VaultRecordV1;

#define OSTREL_RECORD_EQ(Name) friend bool operator==(const Name&, const Name&) = default;

struct VaultRootRecordV1 {
  UserId user_id;
  ByteString hpke_public_key;
  static auto cord_fields(auto& s) { return std::tie(s.user_id, s.hpke_public_key); }
  OSTREL_RECORD_EQ(VaultRootRecordV1)
};
struct EntryPointRecordV1 {
  UserId user_id;  // the vault's root user
  ByteString entry;     // the author's HPKE public key
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.user_id, s.entry, s.counter); }
  OSTREL_RECORD_EQ(EntryPointRecordV1)
};
struct UserRecordV1 {
  UserId user_id;
  ByteString signing_public_key;
  ByteString hpke_public_key;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.user_id, s.signing_public_key, s.hpke_public_key, s.counter); }
  OSTREL_RECORD_EQ(UserRecordV1)
};
struct UserHandleRecordV1 {
  UserHandleId handle_id;
  Text handle;
  UserId user_id;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.handle_id, s.handle, s.user_id, s.counter); }
  OSTREL_RECORD_EQ(UserHandleRecordV1)
};
struct GroupRecordV1 {
  GroupId group_id;
  IdSeed seed;
  Text handle;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.group_id, s.seed, s.handle, s.counter); }
  OSTREL_RECORD_EQ(GroupRecordV1)
};
struct GroupDeletedRecordV1 {
  GroupId group_id;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.group_id, s.counter); }
  OSTREL_RECORD_EQ(GroupDeletedRecordV1)
};
struct GroupMemberRecordV1 {
  GroupMemberId group_member_id;
  GroupId group_id;
  PrincipalRefV1 member;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.group_member_id, s.group_id, s.member, s.counter); }
  OSTREL_RECORD_EQ(GroupMemberRecordV1)
};
struct GroupMemberDeletedRecordV1 {
  GroupMemberId group_member_id;
  GroupId group_id;
  PrincipalRefV1 member;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.group_member_id, s.group_id, s.member, s.counter); }
  OSTREL_RECORD_EQ(GroupMemberDeletedRecordV1)
};
struct GrantRecordV1 {
  GrantId grant_id;
  IdSeed seed;
  PrincipalRefV1 grantee;
  GrantPermissionV1 permission;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.grant_id, s.seed, s.grantee, s.permission, s.counter); }
  OSTREL_RECORD_EQ(GrantRecordV1)
};
struct GrantDeletedRecordV1 {
  GrantId grant_id;
  GrantPermissionV1 permission;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.grant_id, s.permission, s.counter); }
  OSTREL_RECORD_EQ(GrantDeletedRecordV1)
};
struct UserDeletedRecordV1 {
  UserId user_id;
  std::optional<Text> detail;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.user_id, s.detail, s.counter); }
  OSTREL_RECORD_EQ(UserDeletedRecordV1)
};
struct SecretRecordV1 {
  SecretId secret_id;
  SecretSelectorV1 selector;
  SealedPayloadV1 payload;
  std::uint64_t counter = 0;

  // The signed value record of a secret: the selector's id, the selector, the payload and the
  // counter, signed by `author` (record_sign.cc).
  static RecordResult<VaultRecordV1> create_signed(const crypto::Identity& author, SecretSelectorV1 selector,
                                                   SealedPayloadV1 payload, std::uint64_t counter);
  static auto cord_fields(auto& s) { return std::tie(s.secret_id, s.selector, s.payload, s.counter); }
  OSTREL_RECORD_EQ(SecretRecordV1)
};
struct SecretDeletedRecordV1 {
  SecretId secret_id;
  SecretSelectorV1 selector;
  std::uint64_t counter = 0;

  // The signed deletion of a secret; it carries the same id as the selector's value records.
  static RecordResult<VaultRecordV1> create_signed(const crypto::Identity& author, SecretSelectorV1 selector,
                                                   std::uint64_t counter);
  static auto cord_fields(auto& s) { return std::tie(s.secret_id, s.selector, s.counter); }
  OSTREL_RECORD_EQ(SecretDeletedRecordV1)
};
struct VaultHandleRecordV1 {
  VaultHandleId handle_id;
  Text handle;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.handle_id, s.handle, s.counter); }
  OSTREL_RECORD_EQ(VaultHandleRecordV1)
};

#undef OSTREL_RECORD_EQ

// The fact a record states; the variant index is the kind (VaultRoot 0 … VaultHandle 13).
struct RecordBodyV1
    : cord::Enumeration<VaultRootRecordV1, EntryPointRecordV1, UserRecordV1, UserHandleRecordV1, GroupRecordV1,
                        GroupDeletedRecordV1, GroupMemberRecordV1, GroupMemberDeletedRecordV1, GrantRecordV1,
                        GrantDeletedRecordV1, UserDeletedRecordV1, SecretRecordV1, SecretDeletedRecordV1,
                        VaultHandleRecordV1> {
  using Enumeration::Enumeration;
  enum Kind : std::uint8_t {
    VaultRoot, EntryPoint, User, UserHandle, Group, GroupDeleted, GroupMember, GroupMemberDeleted,
    Grant, GrantDeleted, UserDeleted, Secret, SecretDeleted, VaultHandle,
  };

  Kind kind() const { return static_cast<Kind>(index()); }

  // The entity the body concerns; only an entry point uses its author.
  EntityKey record_key(const UserId& author) const;
  // The Lamport counter; the vault root counts as 0.
  std::uint64_t counter() const;
  // The secret's id and selector of a Secret or SecretDeleted body; null for other kinds.
  const SecretId* secret_id() const;
  const SecretSelectorV1* secret_selector() const;
};

using EvolvingBody = cord::Evolving<RecordBodyV1>;

// A part of a record (its body, a field) that keeps the whole record alive: what outlives the
// record's other holders refers to the part through one of these instead of copying it (a copy
// of a decoded body copies every byte string its record only views). Compared by content.
template <class T>
class RecordPart {
 public:
  RecordPart() = default;
  // A value made here rather than read, held the same way (the root user a derivation adds).
  static RecordPart made(T value) { return RecordPart(std::make_shared<const T>(std::move(value))); }

  const T& operator*() const { return *p_; }
  const T* operator->() const { return p_.get(); }
  const T* get() const { return p_.get(); }
  explicit operator bool() const { return p_ != nullptr; }
  // The pointer itself, to hold the part among others of different types.
  const std::shared_ptr<const T>& shared() const { return p_; }

  friend bool operator==(const RecordPart& a, const RecordPart& b) {
    if (a.p_ == b.p_) return true;
    return a.p_ != nullptr && b.p_ != nullptr && *a.p_ == *b.p_;
  }

 private:
  friend class VaultRecordV1;
  explicit RecordPart(std::shared_ptr<const T> p) : p_(std::move(p)) {}
  std::shared_ptr<const T> p_;
};

// A signed record: a body (decoded, or raw when a later version wrote it), the author's Ed25519
// public key and the signature over the body. It keeps its own canonical encoding, from which
// the record hash, the signed message and every re-encoding come without encoding again. A
// record never changes once made, so copies share one immutable representation: copying a
// record (into a state, a candidate list, a listing row) costs a reference count.
//
// A decoded record owns no copies of its fields: its byte strings and texts view its encoding,
// which lies in the file it was read from (kept alive through the decoder's owner) or, when no
// one keeps the input, in the record's own copy of its bytes. The views therefore live exactly as
// long as the representation that holds them.
class VaultRecordV1 {
 public:
  VaultRecordV1();
  VaultRecordV1(EvolvingBody body, ByteString signing_public_key, ByteString signature);

  const EvolvingBody& body() const { return data_->body; }
  // The decoded body, or null for a raw one.
  const RecordBodyV1* known_body() const { return data_->body.known(); }
  const ByteString& signing_public_key() const { return data_->signing_public_key; }
  const ByteString& signature() const { return data_->signature; }

  // The record's canonical encoding. Empty only for a record whose fields are too long to
  // encode, which no decoded or signed record is.
  cord::ByteView encoding() const { return data_->encoding; }
  // The bytes the signature covers: the body's evolving slot, the first 4 + B bytes of the
  // encoding.
  cord::ByteView signed_message() const;

  // `part`, which lies inside this record (its body or a field of it), held with the record.
  template <class T>
  RecordPart<T> share(const T& part) const {
    return RecordPart<T>(std::shared_ptr<const T>(data_, &part));
  }

  // Moves `kept`'s representation onto `twin`'s bytes: the two records must have the same
  // encoding (false and nothing changed otherwise). Afterwards `kept`, and every copy of it and
  // every part of it that others hold, views what `twin` viewed (and keeps that alive), while
  // each part stays at its address and compares as before. This lets the holders of records read
  // from one buffer let it go once the same records were read from another.
  // REQUIRES: no other thread uses `kept` or its copies meanwhile.
  static bool relocate(const VaultRecordV1& kept, VaultRecordV1&& twin);

  // Structural equality of the three fields.
  friend bool operator==(const VaultRecordV1& a, const VaultRecordV1& b) {
    if (a.data_ == b.data_) return true;
    return a.body() == b.body() && a.signing_public_key() == b.signing_public_key() && a.signature() == b.signature();
  }

 private:
  friend struct cord::Codec<VaultRecordV1>;
  struct Data {
    EvolvingBody body = EvolvingBody::raw({});  // replaced whole when made or read
    ByteString signing_public_key;
    ByteString signature;
    ByteString encoding;                // a view into the input `owner` keeps alive, or owned
    std::shared_ptr<const void> owner;  // the decoded input the encoding lies in
    static auto cord_fields(auto& s) { return std::tie(s.body, s.signing_public_key, s.signature); }
  };
  explicit VaultRecordV1(std::shared_ptr<const Data> data) : data_(std::move(data)) {}

  std::shared_ptr<const Data> data_;
};

// The container behind the vault file's magic: variant 0 holds the canonical set of records.
using VaultStore = std::variant<cord::Set<VaultRecordV1>>;

// Domain hash "ostrel.record-hash.v1" of the record's encoding.
HashValue record_hash(const VaultRecordV1& record);

}  // namespace ostrel::core

namespace ostrel::cord {

// A record writes its kept encoding. Read, it keeps views of the bytes it was read from (or of its
// own copy of them) for its fields and its encoding.
template <>
struct Codec<core::VaultRecordV1> {
  using Data = core::VaultRecordV1::Data;
  static Status encode(Serializer& s, const core::VaultRecordV1& r, WidthHint) {
    if (!r.encoding().empty()) {
      s.write_raw(r.encoding());
      return {};
    }
    return detail::encode_fields(s, Data::cord_fields(*r.data_));
  }
  static Status decode(Deserializer& d, core::VaultRecordV1& out, WidthHint hint);
};

}  // namespace ostrel::cord

template <>
struct std::hash<ostrel::core::VaultRecordV1> {
  std::size_t operator()(const ostrel::core::VaultRecordV1& r) const { return ostrel::platform::hash_bytes(r.encoding()); }
};
