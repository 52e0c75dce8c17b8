#include "core/access.h"

#include <algorithm>

#include "cord/text.h"

namespace ostrel::core {

namespace {

StructureCheck fail(const char* message) {
  return std::unexpected(ValidationIssue::invalid_structure(message));
}

// Each element strictly after its predecessor: equal neighbours fail like reversed ones.
template <class Range, class Key>
bool strictly_increasing(const Range& items, Key key) {
  for (std::size_t i = 1; i < items.size(); ++i) {
    if (!text_less(key(items[i - 1]), key(items[i]))) return false;
  }
  return true;
}

}  // namespace

StructureCheck check_structure(const SecretSelectorV1& selector) {
  if (!strictly_increasing(selector.labels, [](const SecretLabelV1& l) -> std::string_view { return l.key; }))
    return fail("secret selector labels must be sorted and unique");
  return {};
}

StructureCheck check_structure(const KeyspaceSelectorV1& selector) {
  if (const auto* p = std::get_if<tuple_matcher::Prefix>(&selector.tuple); p && p->segments.empty())
    return fail("empty tuple prefix must be encoded as any");
  if (!strictly_increasing(selector.labels,
                           [](const KeyspaceLabelMatcherV1& l) -> std::string_view { return l.key; }))
    return fail("keyspace selector labels must be sorted and unique");
  for (const KeyspaceLabelMatcherV1& l : selector.labels) {
    const auto* in = std::get_if<label_matcher::In>(&l.matcher);
    if (in == nullptr) continue;
    if (in->values.empty()) return fail("label in matcher must not be empty");
    if (!strictly_increasing(in->values, [](const cord::Text& v) -> std::string_view { return v; }))
      return fail("label in matcher must be sorted and unique");
  }
  return {};
}

StructureCheck check_structure(const GrantPermissionV1& permission) {
  if (const auto* r = std::get_if<grant_permission::Read>(&permission)) return check_structure(r->selector);
  if (const auto* w = std::get_if<grant_permission::Write>(&permission)) return check_structure(w->selector);
  if (const auto* m = std::get_if<ManageKeyspaceGrantV1>(&permission)) {
    if (auto r = check_structure(m->selector); !r) return r;
    if (m->grantable.empty()) return fail("manage grant must grant at least one class");
    for (std::size_t i = 1; i < m->grantable.size(); ++i) {
      if (!(m->grantable[i - 1] < m->grantable[i])) return fail("manage grant classes must be sorted and unique");
    }
  }
  return {};
}

FrontendResult<SecretSelectorV1> SecretSelectorV1::from_input(std::vector<cord::Text> tuple,
                                                              std::vector<SecretLabelV1> labels,
                                                              std::string_view caller_text) {
  SecretSelectorV1 out{std::move(tuple), std::move(labels)};
  normalise_caller_texts(out);
  std::sort(out.labels.begin(), out.labels.end(), [](const SecretLabelV1& a, const SecretLabelV1& b) {
    if (a.key != b.key) return text_less(a.key, b.key);
    return text_less(a.value, b.value);
  });
  for (std::size_t i = 1; i < out.labels.size(); ++i) {
    if (out.labels[i - 1].key == out.labels[i].key)
      return std::unexpected(FrontendError::invalid_selector(std::string(caller_text), "a label key may appear only once"));
  }
  return out;
}

void SecretSelectorV1::normalise_caller_texts(SecretSelectorV1& selector) {
  auto normalise = [](cord::Text& text) {
    if (cord::caller_text_needs_nfc(text)) text = cord::Text(cord::nfc(text).view());
  };
  for (cord::Text& segment : selector.tuple) normalise(segment);
  for (SecretLabelV1& label : selector.labels) {
    normalise(label.key);
    normalise(label.value);
  }
}

std::string PrincipalRefV1::debug() const {
  if (const auto* u = std::get_if<UserId>(this)) return "User(" + u->debug() + ")";
  return "Group(" + std::get<GroupId>(*this).debug() + ")";
}

}  // namespace ostrel::core
