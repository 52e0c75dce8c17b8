#include "core/validate/entity_binding.h"

namespace ostrel::validate {

using namespace core;

EntityBinding::EntityBinding() : kind_(UserHandle) {
  static const std::shared_ptr<const cord::Text> kEmpty = std::make_shared<const cord::Text>();
  content_ = kEmpty;
}

EntityBinding::EntityBinding(const binding::UserHandle& b)
    : EntityBinding(UserHandle, std::make_shared<const cord::Text>(b.handle)) {}
EntityBinding::EntityBinding(const binding::VaultHandle& b)
    : EntityBinding(VaultHandle, std::make_shared<const cord::Text>(b.handle)) {}
EntityBinding::EntityBinding(const GroupMemberIdInputV1& input)
    : EntityBinding(GroupMember, std::make_shared<const GroupMemberIdInputV1>(input)) {}
EntityBinding::EntityBinding(const SecretSelectorV1& selector)
    : EntityBinding(Secret, std::make_shared<const SecretSelectorV1>(selector)) {}

std::optional<EntityBinding> EntityBinding::of_body(const VaultRecordV1& record, const RecordBodyV1& body) {
  auto part = [&](const auto& field) { return std::shared_ptr<const void>(record.share(field).shared()); };
  switch (body.kind()) {
    case RecordBodyV1::UserHandle: return EntityBinding(UserHandle, part(std::get<UserHandleRecordV1>(body).handle));
    case RecordBodyV1::VaultHandle: return EntityBinding(VaultHandle, part(std::get<VaultHandleRecordV1>(body).handle));
    // The group and the member stand apart in the body: the input is two ids, copied.
    case RecordBodyV1::GroupMember: {
      const auto& b = std::get<GroupMemberRecordV1>(body);
      return EntityBinding(GroupMemberIdInputV1{b.group_id, b.member});
    }
    case RecordBodyV1::GroupMemberDeleted: {
      const auto& b = std::get<GroupMemberDeletedRecordV1>(body);
      return EntityBinding(GroupMemberIdInputV1{b.group_id, b.member});
    }
    case RecordBodyV1::Secret: return EntityBinding(Secret, part(std::get<SecretRecordV1>(body).selector));
    case RecordBodyV1::SecretDeleted: return EntityBinding(Secret, part(std::get<SecretDeletedRecordV1>(body).selector));
    default: return std::nullopt;
  }
}

bool operator==(const EntityBinding& a, const EntityBinding& b) {
  if (a.kind_ != b.kind_) return false;
  if (a.content_ == b.content_) return true;
  switch (a.kind_) {
    case EntityBinding::UserHandle:
    case EntityBinding::VaultHandle: return a.handle() == b.handle();
    case EntityBinding::GroupMember: return a.member_input() == b.member_input();
    case EntityBinding::Secret: return a.selector() == b.selector();
  }
  return false;
}

}  // namespace ostrel::validate
