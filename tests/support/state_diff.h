// The first field in which two vault states differ, for proving a shortcut equal to the
// derivation it stands in for. Every field of VaultState is compared (a field added there must
// be added here), lists and maps element by element in their order. Header-only, without test
// framework, so that the fuzz targets can use it too. Test code only.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "core/validate/state.h"

namespace ostrel::testing {

namespace state_diff {

inline std::string at(const char* field, std::size_t i) { return std::string(field) + "[" + std::to_string(i) + "]"; }

template <class Range>
std::string sizes(const char* field, const Range& a, const Range& b) {
  if (a.size() == b.size()) return {};
  return std::string(field) + ": " + std::to_string(a.size()) + " against " + std::to_string(b.size()) + " entries";
}

// The first position of two ordered maps or lists whose elements differ, or the sizes.
template <class Range>
std::string first_in(const char* field, const Range& a, const Range& b) {
  if (a.size() != b.size()) return sizes(field, a, b);
  std::size_t i = 0;
  for (auto x = a.begin(), y = b.begin(); x != a.end(); ++x, ++y, ++i) {
    if (!(*x == *y)) return at(field, i);
  }
  return {};
}

template <class T>
std::string optional_text(const std::optional<T>& v) {
  if (!v) return "none";
  if constexpr (requires { v->debug(); }) {
    return v->debug();
  } else {
    return std::to_string(*v);
  }
}

inline std::string record_difference(std::size_t i, const validate::EffectiveRecord& a,
                                     const validate::EffectiveRecord& b) {
  if (a.key != b.key) return at("records", i) + ".key: " + a.key.debug() + " against " + b.key.debug();
  if (!(a.record == b.record)) return at("records", i) + ".record";
  if (a.hash != b.hash) return at("records", i) + ".hash: " + a.hash.debug() + " against " + b.hash.debug();
  if (a.signer != b.signer) return at("records", i) + ".signer";
  return {};
}

inline std::string unresolved_difference(const validate::UnresolvedEntry& a, const validate::UnresolvedEntry& b) {
  if (a.rolled_back_from != b.rolled_back_from) {
    return "rolled_back_from " + optional_text(a.rolled_back_from) + " against " + optional_text(b.rolled_back_from);
  }
  if (a.binding != b.binding) return "binding";
  if (a.key != b.key) return "key";
  if (a.candidates != b.candidates) return "candidates";
  if (a.counter != b.counter) return "counter " + std::to_string(a.counter) + " against " + std::to_string(b.counter);
  return {};
}

}  // namespace state_diff

// Empty when `a` and `b` agree in every field; otherwise the first difference, naming the field
// (and the position in a list or map).
inline std::string first_difference(const validate::VaultState& a, const validate::VaultState& b) {
  using namespace state_diff;
  std::string d;
  auto differs = [&](std::string found) {
    d = std::move(found);
    return !d.empty();
  };
  if (differs(first_in("users", a.users, b.users)) || differs(first_in("groups", a.groups, b.groups)) ||
      differs(first_in("memberships", a.memberships, b.memberships)) || differs(first_in("grants", a.grants, b.grants)) ||
      differs(first_in("deleted_users", a.deleted_users, b.deleted_users)) ||
      differs(first_in("deleted_groups", a.deleted_groups, b.deleted_groups)) ||
      differs(first_in("deleted_grants", a.deleted_grants, b.deleted_grants))) {
    return d;
  }
  if (a.max_counter != b.max_counter) {
    return "max_counter: " + optional_text(a.max_counter) + " against " + optional_text(b.max_counter);
  }
  if (a.records.size() != b.records.size()) return sizes("records", a.records, b.records);
  for (std::size_t i = 0; i < a.records.size(); ++i) {
    if (differs(record_difference(i, a.records[i], b.records[i]))) return d;
  }
  if (a.root_user_id != b.root_user_id) return "root_user_id";
  if (a.root_key_id != b.root_key_id) return "root_key_id";
  if (differs(first_in("user_handles", a.user_handles, b.user_handles)) ||
      differs(first_in("vault_handles", a.vault_handles, b.vault_handles)) ||
      differs(first_in("entry_points", a.entry_points, b.entry_points)) ||
      differs(first_in("authority", a.authority, b.authority))) {
    return d;
  }
  if (a.unresolved.size() != b.unresolved.size()) {
    std::string keys;
    for (const auto& [key, entry] : a.unresolved) keys += " " + key.debug();
    keys += " against";
    for (const auto& [key, entry] : b.unresolved) keys += " " + key.debug();
    return "unresolved:" + keys;
  }
  std::size_t i = 0;
  for (auto x = a.unresolved.begin(), y = b.unresolved.begin(); x != a.unresolved.end(); ++x, ++y, ++i) {
    if (x->first != y->first) return at("unresolved", i) + ": " + x->first.debug() + " against " + y->first.debug();
    if (differs(unresolved_difference(x->second, y->second))) return at("unresolved", i) + " " + x->first.debug() + ": " + d;
  }
  if (a.secret_index.size() != b.secret_index.size()) return sizes("secret_index", a.secret_index, b.secret_index);
  for (i = 0; i < a.secret_index.size(); ++i) {
    const auto& x = a.secret_index[i];
    const auto& y = b.secret_index[i];
    if (x.id != y.id || x.current != y.current || x.first != y.first) {
      return at("secret_index", i) + ": current " + std::to_string(x.current) + " first " + std::to_string(x.first) +
             " against current " + std::to_string(y.current) + " first " + std::to_string(y.first) +
             (x.id != y.id ? " (other secret)" : "");
    }
  }
  if (differs(first_in("hash_order", a.hash_order, b.hash_order))) return d;
  if (a.invalid != b.invalid) return "invalid";
  if (a.ratchet.format_version != b.ratchet.format_version) {
    return "ratchet.format_version: " + optional_text(a.ratchet.format_version) + " against " +
           optional_text(b.ratchet.format_version);
  }
  if (differs(first_in("ratchet.counters", a.ratchet.counters, b.ratchet.counters)) ||
      differs(first_in("ratchet.bindings", a.ratchet.bindings, b.ratchet.bindings)) ||
      differs(first_in("issues", a.issues, b.issues))) {
    return d;
  }
  return {};
}

}  // namespace ostrel::testing
