#include "core/entity_key.h"

namespace ostrel::core {

std::string EntityKey::debug() const {
  struct Show {
    std::string operator()(const entity::VaultRoot&) const { return "VaultRoot"; }
    std::string operator()(const entity::EntryPoint& k) const { return "EntryPoint { user_id: " + k.user_id.debug() + " }"; }
    std::string operator()(const entity::User& k) const { return "User { user_id: " + k.user_id.debug() + " }"; }
    std::string operator()(const entity::UserHandle& k) const { return "UserHandle { handle_id: " + k.handle_id.debug() + " }"; }
    std::string operator()(const entity::Group& k) const { return "Group { group_id: " + k.group_id.debug() + " }"; }
    std::string operator()(const entity::GroupMember& k) const {
      return "GroupMember { group_member_id: " + k.group_member_id.debug() + " }";
    }
    std::string operator()(const entity::Grant& k) const { return "Grant { grant_id: " + k.grant_id.debug() + " }"; }
    std::string operator()(const entity::Secret& k) const { return "Secret { secret_id: " + k.secret_id.debug() + " }"; }
    std::string operator()(const entity::VaultHandle& k) const { return "VaultHandle { handle_id: " + k.handle_id.debug() + " }"; }
  };
  return std::visit(Show{}, variant());
}

const HashValue* EntityKey::id() const {
  return std::visit(
      [](const auto& alt) -> const HashValue* {
        if constexpr (requires { alt.cord_unit; }) {
          return nullptr;
        } else {
          return &std::get<0>(std::remove_cvref_t<decltype(alt)>::cord_fields(alt)).value;
        }
      },
      variant());
}

std::uint64_t EntityKey::order_prefix() const {
  std::uint64_t v = static_cast<std::uint64_t>(index()) << 56;
  if (const HashValue* h = id()) {
    for (std::size_t i = 0; i < 7 && i < h->bytes.size(); ++i) v |= std::uint64_t{h->bytes[i]} << (8 * (6 - i));
  }
  return v;
}

}  // namespace ostrel::core

std::size_t std::hash<ostrel::core::EntityKey>::operator()(const ostrel::core::EntityKey& k) const {
  const std::size_t index = k.index();
  const ostrel::HashValue* id = k.id();
  return (id != nullptr ? ostrel::platform::hash_bytes(id->bytes) : 0) ^ (index * 0x9e3779b97f4a7c15ULL);
}
