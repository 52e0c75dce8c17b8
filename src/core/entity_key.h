// EntityKey: names the entity a record concerns. Records of one entity compete by counter under
// it; conflicts, rollbacks and remembered counters are keyed by it. Plain value.
#pragma once

#include <compare>
#include <string>
#include <tuple>
#include <variant>

#include "cord/codec.h"
#include "ids/identifiers.h"

namespace ostrel::core {

namespace entity {
struct VaultRoot {
  static constexpr bool cord_unit = true;
  friend bool operator==(const VaultRoot&, const VaultRoot&) = default;
  friend auto operator<=>(const VaultRoot&, const VaultRoot&) = default;
};
#define OSTREL_ENTITY(Name, IdType, field)                                      \
  struct Name {                                                                 \
    IdType field;                                                               \
    static auto cord_fields(auto& s) { return std::tie(s.field); }              \
    friend bool operator==(const Name&, const Name&) = default;                 \
    friend auto operator<=>(const Name&, const Name&) = default;                \
  };
OSTREL_ENTITY(EntryPoint, UserId, user_id)
OSTREL_ENTITY(User, UserId, user_id)
OSTREL_ENTITY(UserHandle, UserHandleId, handle_id)
OSTREL_ENTITY(Group, GroupId, group_id)
OSTREL_ENTITY(GroupMember, GroupMemberId, group_member_id)
OSTREL_ENTITY(Grant, GrantId, grant_id)
OSTREL_ENTITY(Secret, SecretId, secret_id)
OSTREL_ENTITY(VaultHandle, VaultHandleId, handle_id)
#undef OSTREL_ENTITY
}  // namespace entity

// Ordered by variant index, then by the id's bytes; encoded as the index and the id's bytes.
struct EntityKey
    : cord::Enumeration<entity::VaultRoot, entity::EntryPoint, entity::User, entity::UserHandle, entity::Group,
                        entity::GroupMember, entity::Grant, entity::Secret, entity::VaultHandle> {
  using Enumeration::Enumeration;

  // "VaultRoot", or "User { user_id: UserId(HashValue([...])) }".
  std::string debug() const;

  // The id's bytes; null for the vault root, which has none.
  const HashValue* id() const;
  // The leading part of the order as one number: the variant index, then the id's first seven
  // bytes (zeros past its end). Keys whose numbers differ are ordered as their numbers; equal
  // numbers leave the order to the full comparison. Large sorts compare these first.
  std::uint64_t order_prefix() const;
};

}  // namespace ostrel::core

template <>
struct std::hash<ostrel::core::EntityKey> {
  std::size_t operator()(const ostrel::core::EntityKey& k) const;
};
