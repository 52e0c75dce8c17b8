// EntityBinding: the identity-defining content of an entity, the value its id is derived from (a
// handle's text, a membership's group and member, a secret's selector). A binding the derivation
// reads from a record refers to that record's body, keeping the record alive, instead of copying
// it; one remembered by the ratchet or made by a caller owns its content. A value; safe to pass
// between threads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/access.h"
#include "core/records.h"

namespace ostrel::validate {

namespace binding {
struct UserHandle {
  std::string handle;
  friend bool operator==(const UserHandle&, const UserHandle&) = default;
};
struct VaultHandle {
  std::string handle;
  friend bool operator==(const VaultHandle&, const VaultHandle&) = default;
};
}  // namespace binding

class EntityBinding {
 public:
  enum Kind : std::uint8_t { UserHandle, VaultHandle, GroupMember, Secret };

  // An empty user handle, as the binding a map entry starts with.
  EntityBinding();
  // Bindings that own their content.
  EntityBinding(const binding::UserHandle& b);            // NOLINT: a binding of that kind
  EntityBinding(const binding::VaultHandle& b);           // NOLINT
  EntityBinding(const core::GroupMemberIdInputV1& input);  // NOLINT
  EntityBinding(const core::SecretSelectorV1& selector);   // NOLINT

  // The binding `body` gives its entity, referring to it inside `record`, which carries the body
  // and keeps it alive. None for kinds without a binding.
  static std::optional<EntityBinding> of_body(const core::VaultRecordV1& record, const core::RecordBodyV1& body);

  Kind kind() const { return kind_; }
  // REQUIRES: kind() is UserHandle or VaultHandle.
  std::string_view handle() const { return *static_cast<const cord::Text*>(content_.get()); }
  // REQUIRES: kind() == GroupMember.
  const core::GroupMemberIdInputV1& member_input() const {
    return *static_cast<const core::GroupMemberIdInputV1*>(content_.get());
  }
  // REQUIRES: kind() == Secret.
  const core::SecretSelectorV1& selector() const { return *static_cast<const core::SecretSelectorV1*>(content_.get()); }

  // Same kind and same content, wherever the content lives.
  friend bool operator==(const EntityBinding& a, const EntityBinding& b);

 private:
  EntityBinding(Kind kind, std::shared_ptr<const void> content) : kind_(kind), content_(std::move(content)) {}

  Kind kind_;
  // A cord::Text (handles), a core::GroupMemberIdInputV1 or a core::SecretSelectorV1: owned, or a
  // part of a record that shares the record's lifetime.
  std::shared_ptr<const void> content_;
};

}  // namespace ostrel::validate
