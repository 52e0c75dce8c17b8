// Access-control values: principals, secret selectors, keyspace selectors and grant permissions,
// with their encodings and structure rules. Plain values; safe from any thread.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "platform/result.h"
#include "cord/codec.h"
#include "core/validation_issue.h"
#include "errors/frontend_error.h"
#include "ids/identifiers.h"

namespace ostrel::core {

// A user or a group, by identifier.
struct PrincipalRefV1 : cord::Enumeration<UserId, GroupId> {
  using Enumeration::Enumeration;
  // User(UserId(HashValue([...]))) or Group(GroupId(HashValue([...])))
  std::string debug() const;
};

// The identity of one membership of a principal in a group.
struct GroupMemberIdInputV1 {
  GroupId group_id;
  PrincipalRefV1 member;
  static auto cord_fields(auto& s) { return std::tie(s.group_id, s.member); }
  friend bool operator==(const GroupMemberIdInputV1&, const GroupMemberIdInputV1&) = default;
};

struct SecretLabelV1 {
  cord::Text key;
  cord::Text value;
  static auto cord_fields(auto& s) { return std::tie(s.key, s.value); }
  friend bool operator==(const SecretLabelV1&, const SecretLabelV1&) = default;
};

// A secret's stored address: path segments and labels (keys strictly increasing by bytes).
struct SecretSelectorV1 {
  std::vector<cord::Text> tuple;
  std::vector<SecretLabelV1> labels;

  // The one way caller input becomes a selector: every segment, key and value brought to NFC
  // (the form it will be stored and compared in), labels sorted by key bytes (then value), and
  // keys that coincide once normalised refused with the grammar's duplicate-key error naming
  // `caller_text`. Decoded selectors never pass through here: they stay exactly as stored.
  static FrontendResult<SecretSelectorV1> from_input(std::vector<cord::Text> tuple, std::vector<SecretLabelV1> labels,
                                                     std::string_view caller_text);
  // Every segment, label key and label value of a caller's selector brought to NFC in place; the
  // labels keep their order. Text that is not UTF-8 is left for the writer, which refuses it.
  static void normalise_caller_texts(SecretSelectorV1& selector);
  static auto cord_fields(auto& s) { return std::tie(s.tuple, s.labels); }
  friend bool operator==(const SecretSelectorV1&, const SecretSelectorV1&) = default;
};

// Which paths a keyspace covers.
namespace tuple_matcher {
struct Any {
  static constexpr bool cord_unit = true;
  friend bool operator==(const Any&, const Any&) = default;
};
struct Exact {
  std::vector<cord::Text> segments;
  static auto cord_fields(auto& s) { return std::tie(s.segments); }
  friend bool operator==(const Exact&, const Exact&) = default;
};
struct Prefix {
  std::vector<cord::Text> segments;  // never empty in a valid value
  static auto cord_fields(auto& s) { return std::tie(s.segments); }
  friend bool operator==(const Prefix&, const Prefix&) = default;
};
}  // namespace tuple_matcher

struct TupleMatcherV1 : cord::Enumeration<tuple_matcher::Any, tuple_matcher::Exact, tuple_matcher::Prefix> {
  using Enumeration::Enumeration;
};

// A condition on one label of a secret.
namespace label_matcher {
struct Present {
  static constexpr bool cord_unit = true;
  friend bool operator==(const Present&, const Present&) = default;
};
struct Equals {
  cord::Text value;
  static auto cord_fields(auto& s) { return std::tie(s.value); }
  friend bool operator==(const Equals&, const Equals&) = default;
};
struct In {
  std::vector<cord::Text> values;  // non-empty, strictly increasing in a valid value
  static auto cord_fields(auto& s) { return std::tie(s.values); }
  friend bool operator==(const In&, const In&) = default;
};
struct Absent {
  static constexpr bool cord_unit = true;
  friend bool operator==(const Absent&, const Absent&) = default;
};
}  // namespace label_matcher

struct LabelMatcherV1
    : cord::Enumeration<label_matcher::Present, label_matcher::Equals, label_matcher::In, label_matcher::Absent> {
  using Enumeration::Enumeration;
};

struct KeyspaceLabelMatcherV1 {
  cord::Text key;
  LabelMatcherV1 matcher;
  static auto cord_fields(auto& s) { return std::tie(s.key, s.matcher); }
  friend bool operator==(const KeyspaceLabelMatcherV1&, const KeyspaceLabelMatcherV1&) = default;
};

// A region of the secret namespace.
struct KeyspaceSelectorV1 {
  TupleMatcherV1 tuple;
  std::vector<KeyspaceLabelMatcherV1> labels;
  static auto cord_fields(auto& s) { return std::tie(s.tuple, s.labels); }
  friend bool operator==(const KeyspaceSelectorV1&, const KeyspaceSelectorV1&) = default;
};

// A class of grant that a manage grant may confer.
enum class KeyspaceGrantClassV1 : std::uint32_t { Read = 0, Write = 1, Manage = 2 };
constexpr std::uint32_t cord_variant_count(KeyspaceGrantClassV1) { return 3; }

struct ManageKeyspaceGrantV1 {
  KeyspaceSelectorV1 selector;
  std::vector<KeyspaceGrantClassV1> grantable;  // non-empty, strictly increasing in a valid value
  static auto cord_fields(auto& s) { return std::tie(s.selector, s.grantable); }
  friend bool operator==(const ManageKeyspaceGrantV1&, const ManageKeyspaceGrantV1&) = default;
};

// What one grant confers.
namespace grant_permission {
struct Read {
  KeyspaceSelectorV1 selector;
  static auto cord_fields(auto& s) { return std::tie(s.selector); }
  friend bool operator==(const Read&, const Read&) = default;
};
struct Write {
  KeyspaceSelectorV1 selector;
  static auto cord_fields(auto& s) { return std::tie(s.selector); }
  friend bool operator==(const Write&, const Write&) = default;
};
struct Admin {
  static constexpr bool cord_unit = true;
  friend bool operator==(const Admin&, const Admin&) = default;
};
}  // namespace grant_permission

struct GrantPermissionV1 : cord::Enumeration<grant_permission::Read, grant_permission::Write, ManageKeyspaceGrantV1,
                                              grant_permission::Admin> {
  using Enumeration::Enumeration;
};

// Success, or the InvalidStructure issue of the first rule that fails.
using StructureCheck = platform::Result<void, ValidationIssue>;

// Label keys strictly increasing by bytes.
StructureCheck check_structure(const SecretSelectorV1& selector);
// An empty prefix is written as Any; label keys strictly increasing; each In matcher non-empty
// and strictly increasing.
StructureCheck check_structure(const KeyspaceSelectorV1& selector);
// The keyspace rules, and for a manage grant a non-empty, strictly increasing class list.
StructureCheck check_structure(const GrantPermissionV1& permission);

// Byte order of texts: the common prefix byte by byte (unsigned), then the shorter first.
inline bool text_less(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  });
}

}  // namespace ostrel::core
