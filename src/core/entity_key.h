// EntityKey: names the entity a record concerns. Records of one entity compete by counter under
// it; conflicts, rollbacks and remembered counters are keyed by it. Plain value.
#pragma once

#include <compare>
#include <string>
#include <tuple>
#include <variant>

#include "cord/codec.h"
#include "errors/identifiers.h"

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

using EntityKeyVariant =
    std::variant<entity::VaultRoot, entity::EntryPoint, entity::User, entity::UserHandle, entity::Group,
                 entity::GroupMember, entity::Grant, entity::Secret, entity::VaultHandle>;

// Ordered by variant index, then by the id's bytes; encoded as the index and the id's bytes.
struct EntityKey : EntityKeyVariant {
  using cord_variant = EntityKeyVariant;
  using EntityKeyVariant::EntityKeyVariant;

  const EntityKeyVariant& variant() const { return *this; }

  // "VaultRoot", or "User { user_id: UserId(HashValue([...])) }".
  std::string debug() const;

  friend bool operator==(const EntityKey& a, const EntityKey& b) { return a.variant() == b.variant(); }
  friend auto operator<=>(const EntityKey& a, const EntityKey& b) { return a.variant() <=> b.variant(); }
};

}  // namespace ostrel::core

template <>
struct std::hash<ostrel::core::EntityKey> {
  std::size_t operator()(const ostrel::core::EntityKey& k) const;
};
