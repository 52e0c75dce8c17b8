// Permissions: the effective rights of one principal, and the pure functions that evaluate
// keyspace selectors against secrets and against each other. Values; safe from any thread.
#pragma once

#include <cstddef>
#include <map>
#include <unordered_map>
#include <vector>

#include "core/access.h"

namespace ostrel::validate {

using core::GrantPermissionV1;
using core::KeyspaceSelectorV1;
using core::ManageKeyspaceGrantV1;
using core::SecretSelectorV1;

// Whether keyspace `k` contains the secret address `s`: the path matcher, then each label matcher.
bool matches(const KeyspaceSelectorV1& k, const SecretSelectorV1& s);

// A list that keeps insertion order and holds no two equal elements; a side index keeps
// "append unless present" constant-time however many grants a principal collects.
template <class T>
class UniqueList {
 public:
  // Appends a copy unless an equal element is present; true when it appended.
  bool add(const T& value);
  const std::vector<T>& items() const { return items_; }
  std::size_t size() const { return items_.size(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  // Equal when the elements are equal in order.
  friend bool operator==(const UniqueList& a, const UniqueList& b) { return a.items_ == b.items_; }

 private:
  std::vector<T> items_;
  std::unordered_multimap<std::size_t, std::size_t> index_;  // hash of an element -> its position
};

extern template class UniqueList<KeyspaceSelectorV1>;
extern template class UniqueList<ManageKeyspaceGrantV1>;

struct Permissions {
  UniqueList<KeyspaceSelectorV1> read;
  UniqueList<KeyspaceSelectorV1> write;
  UniqueList<ManageKeyspaceGrantV1> manage;
  bool admin = false;

  // Everything: read, write and manage (all classes) over every path, and admin. Only the
  // vault's root user starts with it.
  static Permissions full();

  // Appends `entry` to `manage` unless an equal entry is present; true when it appended.
  static bool add_manage(UniqueList<ManageKeyspaceGrantV1>& manage, const ManageKeyspaceGrantV1& entry);
  // Adds what one grant confers.
  void add_grant(const GrantPermissionV1& grant);
  // Adds a group's rights to this member's; true when anything was appended or admin was set.
  bool inherit(const Permissions& group);

  bool can_read(const SecretSelectorV1& s) const;
  bool can_write(const SecretSelectorV1& s) const;
  bool may_grant(const GrantPermissionV1& grant) const;

  friend bool operator==(const Permissions& a, const Permissions& b) {
    return a.admin == b.admin && a.read == b.read && a.write == b.write && a.manage == b.manage;
  }
};

// The authority map: every User key before every Group key, then id bytes.
using AuthorityMap = std::map<core::PrincipalRefV1, Permissions>;

// The one permission lookup: the user's own entry (which already holds what it inherits), or the
// empty Permissions when it has none. A reference: no copy per lookup.
const Permissions& permissions_of(const AuthorityMap& authority, const UserId& user);

// permissions_of over a walk of records, with the answers kept in a small table indexed by the
// user id's leading bytes: a vault has few signers and many records, and comparing one id is
// cheaper than searching the map. Ids that share a slot only cost a search of the map again.
// REQUIRES: `authority` outlives the lookup and does not change meanwhile.
class PermissionsLookup {
 public:
  explicit PermissionsLookup(const AuthorityMap& authority) : authority_(authority) {}
  const Permissions& operator()(const UserId& user) {
    if (kept_.empty()) kept_.resize(kSlots);
    const auto& b = user.value.bytes;
    Kept& k = kept_[b.size() >= 2 ? (std::size_t{b[0]} << 8 | b[1]) % kSlots : 0];
    if (k.permissions == nullptr || k.user != user) {
      k.permissions = &permissions_of(authority_, user);
      k.user = user;
    }
    return *k.permissions;
  }

 private:
  static constexpr std::size_t kSlots = 1024;
  struct Kept {
    UserId user;
    const Permissions* permissions = nullptr;
  };
  const AuthorityMap& authority_;
  std::vector<Kept> kept_;
};

}  // namespace ostrel::validate
