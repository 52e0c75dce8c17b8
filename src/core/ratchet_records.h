// Ratchet records: the facts the anti-rollback ratchet remembers about a vault outside it (per
// entity its highest counter and binding, the format version, the trusted root). Plain values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <variant>

#include "cord/codec.h"
#include "cord/evolving.h"
#include "cord/set.h"
#include "core/access.h"
#include "ids/identifiers.h"

namespace ostrel::core {

#define OSTREL_RATCHET_EQ(Name) friend bool operator==(const Name&, const Name&) = default;

struct UserRatchetRecordV1 {
  UserId user_id;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.user_id, s.counter); }
  OSTREL_RATCHET_EQ(UserRatchetRecordV1)
};
struct UserHandleRatchetRecordV1 {
  UserHandleId handle_id;
  std::uint64_t counter = 0;
  std::string handle;  // empty: no binding remembered
  static auto cord_fields(auto& s) { return std::tie(s.handle_id, s.counter, s.handle); }
  OSTREL_RATCHET_EQ(UserHandleRatchetRecordV1)
};
struct VaultHandleRatchetRecordV1 {
  VaultHandleId handle_id;
  std::uint64_t counter = 0;
  std::string handle;
  static auto cord_fields(auto& s) { return std::tie(s.handle_id, s.counter, s.handle); }
  OSTREL_RATCHET_EQ(VaultHandleRatchetRecordV1)
};
struct GroupRatchetRecordV1 {
  GroupId group_id;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.group_id, s.counter); }
  OSTREL_RATCHET_EQ(GroupRatchetRecordV1)
};
struct GroupMemberRatchetRecordV1 {
  GroupMemberId group_member_id;
  std::uint64_t counter = 0;
  std::optional<GroupMemberIdInputV1> input;
  static auto cord_fields(auto& s) { return std::tie(s.group_member_id, s.counter, s.input); }
  OSTREL_RATCHET_EQ(GroupMemberRatchetRecordV1)
};
struct GrantRatchetRecordV1 {
  GrantId grant_id;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.grant_id, s.counter); }
  OSTREL_RATCHET_EQ(GrantRatchetRecordV1)
};
struct SecretRatchetRecordV1 {
  SecretId secret_id;
  std::uint64_t counter = 0;
  SecretSelectorV1 selector;  // an empty tuple: no binding remembered
  static auto cord_fields(auto& s) { return std::tie(s.secret_id, s.counter, s.selector); }
  OSTREL_RATCHET_EQ(SecretRatchetRecordV1)
};
struct EntryPointRatchetRecordV1 {
  UserId user_id;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.user_id, s.counter); }
  OSTREL_RATCHET_EQ(EntryPointRatchetRecordV1)
};
struct TrustedRootRatchetRecordV1 {
  HashValue root;  // key id of the self-signed root's signing key
  static auto cord_fields(auto& s) { return std::tie(s.root); }
  OSTREL_RATCHET_EQ(TrustedRootRatchetRecordV1)
};

#undef OSTREL_RATCHET_EQ

// One remembered fact; variants in index order User … EntryPoint, FormatVersion, TrustedRoot.
struct RatchetRecordV1
    : cord::Enumeration<UserRatchetRecordV1, UserHandleRatchetRecordV1, VaultHandleRatchetRecordV1,
                        GroupRatchetRecordV1, GroupMemberRatchetRecordV1, GrantRatchetRecordV1, SecretRatchetRecordV1,
                        EntryPointRatchetRecordV1, std::uint64_t /* FormatVersion */, TrustedRootRatchetRecordV1> {
  using Enumeration::Enumeration;
  enum Kind : std::uint8_t {
    User, UserHandle, VaultHandle, Group, GroupMember, Grant, Secret, EntryPoint, FormatVersion, TrustedRoot,
  };

  static RatchetRecordV1 format_version(std::uint64_t v) { return RatchetRecordV1(std::in_place_index<8>, v); }
  Kind kind() const { return static_cast<Kind>(index()); }
};

// An element of a ratchet file's set: a record, or the raw payload of one a later version wrote.
using RatchetElement = cord::Evolving<RatchetRecordV1>;

// The ratchet file's container: variant 0 holds the canonical set of evolving elements.
using RatchetStore = std::variant<cord::Set<RatchetElement>>;

}  // namespace ostrel::core
