// An invitation's payload: the invited identity's master seed, the vault root it is for, and the
// rollback baseline that seeds the ratchet the first time that root is trusted here. Decoded from
// the text and byte forms by the front end, consumed by trust establishment. Plain values that
// own their seed; move-only, like the seed. Safe from any thread.
#pragma once

#include <optional>
#include <tuple>
#include <variant>
#include <vector>

#include "core/ratchet_records.h"
#include "ids/identifiers.h"
#include "platform/secret.h"

namespace ostrel::core {

// Ratchet facts in list order. Unlike the ratchet file's set, elements carry no length of their
// own and neither their order nor their uniqueness is checked, so a ratchet kind this version
// does not know makes the whole invitation undecodable.
struct RatchetBaselineV1 {
  std::vector<RatchetRecordV1> records;
  static auto cord_fields(auto& s) { return std::tie(s.records); }
  friend bool operator==(const RatchetBaselineV1&, const RatchetBaselineV1&) = default;
};

// The seed and the root are taken at any length here; the identity derivation and the root
// comparison judge them.
struct InviteV1 {
  platform::SecretBytes seed;
  HashValue root;
  RatchetBaselineV1 baseline;
  static auto cord_fields(auto& s) { return std::tie(s.seed, s.root, s.baseline); }
};

struct InviteV2 {
  platform::SecretBytes seed;
  HashValue root;
  std::optional<RatchetBaselineV1> baseline;  // absent: usable only where a ratchet is remembered
  static auto cord_fields(auto& s) { return std::tie(s.seed, s.root, s.baseline); }
};

// Variant 0 holds an InviteV1, variant 1 an InviteV2.
struct Invite : std::variant<InviteV1, InviteV2> {
  using cord_variant = std::variant<InviteV1, InviteV2>;
  using cord_variant::variant;
  const cord_variant& variant() const { return *this; }

  const platform::SecretBytes& seed() const {
    return std::visit([](const auto& v) -> const platform::SecretBytes& { return v.seed; }, variant());
  }
  const HashValue& root() const {
    return std::visit([](const auto& v) -> const HashValue& { return v.root; }, variant());
  }
  // Always present in an InviteV1; null for an InviteV2 that carries none.
  const RatchetBaselineV1* baseline() const {
    if (const auto* v1 = std::get_if<InviteV1>(this)) return &v1->baseline;
    const auto& v2 = std::get<InviteV2>(*this);
    return v2.baseline ? &*v2.baseline : nullptr;
  }
};

}  // namespace ostrel::core
