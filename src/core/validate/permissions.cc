#include "core/validate/permissions.h"

#include <algorithm>
#include <set>
#include <string_view>

#include "core/validate/permissions_internal.h"

namespace ostrel::validate {
namespace {

using namespace core;

bool equal_segments(const std::vector<cord::Text>& a, const std::vector<cord::Text>& b, std::size_t n) {
  return std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin());
}

bool path_matches(const TupleMatcherV1& m, const std::vector<cord::Text>& path) {
  if (std::holds_alternative<tuple_matcher::Any>(m)) return true;
  if (const auto* e = std::get_if<tuple_matcher::Exact>(&m)) return e->segments == path;
  const auto& prefix = std::get<tuple_matcher::Prefix>(m).segments;
  return path.size() >= prefix.size() && equal_segments(prefix, path, prefix.size());
}

const SecretLabelV1* find_label(const SecretSelectorV1& s, std::string_view key) {
  for (const SecretLabelV1& l : s.labels) {
    if (l.key == key) return &l;
  }
  return nullptr;
}

bool label_matches(const KeyspaceLabelMatcherV1& m, const SecretSelectorV1& s) {
  const SecretLabelV1* label = find_label(s, m.key);
  if (std::holds_alternative<label_matcher::Absent>(m.matcher)) return label == nullptr;
  if (label == nullptr) return false;
  if (const auto* eq = std::get_if<label_matcher::Equals>(&m.matcher)) return label->value == eq->value;
  if (const auto* in = std::get_if<label_matcher::In>(&m.matcher)) {
    return std::find(in->values.begin(), in->values.end(), label->value) != in->values.end();
  }
  return true;  // Present
}

bool path_covers(const TupleMatcherV1& c, const TupleMatcherV1& d) {
  if (std::holds_alternative<tuple_matcher::Any>(c)) return true;
  if (const auto* ce = std::get_if<tuple_matcher::Exact>(&c)) {
    const auto* de = std::get_if<tuple_matcher::Exact>(&d);
    return de != nullptr && de->segments == ce->segments;
  }
  const auto& v = std::get<tuple_matcher::Prefix>(c).segments;
  const std::vector<cord::Text>* w = nullptr;
  if (const auto* de = std::get_if<tuple_matcher::Exact>(&d)) w = &de->segments;
  if (const auto* dp = std::get_if<tuple_matcher::Prefix>(&d)) w = &dp->segments;
  return w != nullptr && w->size() >= v.size() && equal_segments(v, *w, v.size());
}

bool all_within(const std::vector<cord::Text>& ys, const std::vector<cord::Text>& xs) {
  const std::set<std::string_view> allowed(xs.begin(), xs.end());
  return std::all_of(ys.begin(), ys.end(), [&](const cord::Text& y) { return allowed.contains(y); });
}

bool matcher_covers(const LabelMatcherV1& c, const LabelMatcherV1& d) {
  using namespace label_matcher;
  if (std::holds_alternative<Present>(c)) return !std::holds_alternative<Absent>(d);
  if (std::holds_alternative<Absent>(c)) return std::holds_alternative<Absent>(d);
  if (const auto* ce = std::get_if<Equals>(&c)) {
    if (const auto* de = std::get_if<Equals>(&d)) return de->value == ce->value;
    if (const auto* di = std::get_if<In>(&d)) {
      return std::all_of(di->values.begin(), di->values.end(), [&](const cord::Text& y) { return y == ce->value; });
    }
    return false;
  }
  const auto& xs = std::get<In>(c).values;
  if (const auto* de = std::get_if<Equals>(&d)) {
    return !xs.empty() && std::find(xs.begin(), xs.end(), de->value) != xs.end();
  }
  if (const auto* di = std::get_if<In>(&d)) return all_within(di->values, xs);
  return false;
}

const KeyspaceLabelMatcherV1* find_matcher(const KeyspaceSelectorV1& k, std::string_view key) {
  for (const KeyspaceLabelMatcherV1& m : k.labels) {
    if (m.key == key) return &m;
  }
  return nullptr;
}

template <class T>
std::size_t structural_hash(const T& value) {
  // Equal values have equal encodings, so hashing the encoding agrees with equality.
  auto bytes = cord::to_vec(value);
  return bytes ? platform::hash_bytes(*bytes) : 0;
}

bool holds(const ManageKeyspaceGrantV1& m, KeyspaceGrantClassV1 c) {
  return std::find(m.grantable.begin(), m.grantable.end(), c) != m.grantable.end();
}

}  // namespace

bool matches(const KeyspaceSelectorV1& k, const SecretSelectorV1& s) {
  if (!path_matches(k.tuple, s.tuple)) return false;
  for (const KeyspaceLabelMatcherV1& m : k.labels) {
    if (!label_matches(m, s)) return false;
  }
  return true;
}

bool covers(const KeyspaceSelectorV1& c, const KeyspaceSelectorV1& d) {
  if (!path_covers(c.tuple, d.tuple)) return false;
  if (c.labels.empty()) return true;
  if (d.labels.empty()) return false;
  for (const KeyspaceLabelMatcherV1& cm : c.labels) {
    const KeyspaceLabelMatcherV1* dm = find_matcher(d, cm.key);
    if (dm == nullptr || !matcher_covers(cm.matcher, dm->matcher)) return false;
  }
  return true;
}

template <class T>
bool UniqueList<T>::add(const T& value) {
  const std::size_t h = structural_hash(value);
  auto [lo, hi] = index_.equal_range(h);
  for (auto it = lo; it != hi; ++it) {
    if (items_[it->second] == value) return false;
  }
  index_.emplace(h, items_.size());
  items_.push_back(value);
  return true;
}

template class UniqueList<KeyspaceSelectorV1>;
template class UniqueList<ManageKeyspaceGrantV1>;

Permissions Permissions::full() {
  Permissions p;
  const KeyspaceSelectorV1 everything{tuple_matcher::Any{}, {}};
  p.read.add(everything);
  p.write.add(everything);
  p.manage.add(ManageKeyspaceGrantV1{
      everything, {KeyspaceGrantClassV1::Read, KeyspaceGrantClassV1::Write, KeyspaceGrantClassV1::Manage}});
  p.admin = true;
  return p;
}

bool Permissions::add_manage(UniqueList<ManageKeyspaceGrantV1>& manage, const ManageKeyspaceGrantV1& entry) {
  return manage.add(entry);
}

void Permissions::add_grant(const GrantPermissionV1& grant) {
  if (const auto* r = std::get_if<grant_permission::Read>(&grant)) {
    read.add(r->selector);
  } else if (const auto* w = std::get_if<grant_permission::Write>(&grant)) {
    write.add(w->selector);
  } else if (const auto* m = std::get_if<ManageKeyspaceGrantV1>(&grant)) {
    add_manage(manage, *m);
  } else {
    admin = true;
  }
}

bool Permissions::inherit(const Permissions& group) {
  bool changed = false;
  for (const auto& s : group.read) changed |= read.add(s);
  for (const auto& s : group.write) changed |= write.add(s);
  for (const auto& m : group.manage) changed |= add_manage(manage, m);
  if (group.admin && !admin) {
    admin = true;
    changed = true;
  }
  return changed;
}

bool Permissions::can_read(const SecretSelectorV1& s) const {
  if (admin) return true;
  for (const auto& k : read) {
    if (matches(k, s)) return true;
  }
  return can_write(s);
}

bool Permissions::can_write(const SecretSelectorV1& s) const {
  if (admin) return true;
  for (const auto& k : write) {
    if (matches(k, s)) return true;
  }
  for (const auto& m : manage) {
    if (matches(m.selector, s)) return true;
  }
  return false;
}

bool Permissions::may_grant(const GrantPermissionV1& grant) const {
  if (admin) return true;
  auto any_covers = [&](const UniqueList<KeyspaceSelectorV1>& list, const KeyspaceSelectorV1& s) {
    return std::any_of(list.begin(), list.end(), [&](const KeyspaceSelectorV1& k) { return covers(k, s); });
  };
  auto manage_covers = [&](const KeyspaceSelectorV1& s, std::optional<KeyspaceGrantClassV1> cls) {
    return std::any_of(manage.begin(), manage.end(), [&](const ManageKeyspaceGrantV1& m) {
      return (!cls || holds(m, *cls)) && covers(m.selector, s);
    });
  };
  if (const auto* r = std::get_if<grant_permission::Read>(&grant)) {
    const bool held = any_covers(read, r->selector) || any_covers(write, r->selector) ||
                      manage_covers(r->selector, std::nullopt);
    return held && manage_covers(r->selector, KeyspaceGrantClassV1::Read);
  }
  if (const auto* w = std::get_if<grant_permission::Write>(&grant)) {
    const bool held = any_covers(write, w->selector) || manage_covers(w->selector, std::nullopt);
    return held && manage_covers(w->selector, KeyspaceGrantClassV1::Write);
  }
  if (const auto* m = std::get_if<ManageKeyspaceGrantV1>(&grant)) {
    return std::any_of(manage.begin(), manage.end(), [&](const ManageKeyspaceGrantV1& held) {
      return holds(held, KeyspaceGrantClassV1::Manage) && covers(held.selector, m->selector) &&
             std::all_of(m->grantable.begin(), m->grantable.end(),
                         [&](KeyspaceGrantClassV1 c) { return holds(held, c); });
    });
  }
  return false;  // Admin is conferred only by admins
}

const Permissions& permissions_of(const AuthorityMap& authority, const UserId& user) {
  static const Permissions kNone;
  auto it = authority.find(core::PrincipalRefV1(user));
  return it == authority.end() ? kNone : it->second;
}

}  // namespace ostrel::validate
