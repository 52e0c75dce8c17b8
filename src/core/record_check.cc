#include "core/record_check.h"

#include <algorithm>
#include <vector>

#include "core/ids.h"
#include "core/record_check_internal.h"
#include "crypto/domain_hash.h"

namespace ostrel::core {
namespace {

StructureCheck fail(const char* message) {
  return std::unexpected(ValidationIssue::invalid_structure(message));
}

// The id a group or grant seed derives, under its tag.
CoreResult<HashValue> seed_id(std::string_view tag, const IdSeed& seed) {
  return crypto::domain_hash_cord(tag, seed);
}

#define OSTREL_CHECK_DERIVED(expr, var)                                        \
  auto var = (expr);                                                           \
  if (!var) return std::unexpected(to_invalid_structure(var.error()))

struct Rules {
  const VaultRecordV1& record;
  const UserId& root;

  StructureCheck operator()(const VaultRootRecordV1& b) const {
    OSTREL_CHECK_DERIVED(core::user_id_from_public_keys(record.signing_public_key(), b.hpke_public_key), id);
    if (*id != b.user_id) return fail("invalid root record");
    return {};
  }
  StructureCheck operator()(const EntryPointRecordV1& b) const {
    if (b.user_id != root) return fail("invalid entry point record");
    return {};
  }
  StructureCheck operator()(const UserRecordV1& b) const { return check(b); }
  StructureCheck operator()(const UserHandleRecordV1& b) const {
    if (!is_valid_handle(b.handle)) return fail("invalid user handle");
    OSTREL_CHECK_DERIVED(core::derive_user_handle_id(b.handle), id);
    if (*id != b.handle_id) return fail("invalid user handle");
    return {};
  }
  StructureCheck operator()(const GroupRecordV1& b) const {
    OSTREL_CHECK_DERIVED(seed_id("ostrel.group.v1", b.seed), id);
    if (*id != b.group_id.value) return fail("invalid group record");
    if (!is_valid_handle(b.handle)) return fail("invalid group record");
    return {};
  }
  StructureCheck operator()(const GroupDeletedRecordV1&) const { return {}; }
  StructureCheck operator()(const GroupMemberRecordV1& b) const {
    OSTREL_CHECK_DERIVED(core::derive_group_member_id(GroupMemberIdInputV1{b.group_id, b.member}), id);
    if (*id != b.group_member_id) return fail("invalid group membership");
    return {};
  }
  StructureCheck operator()(const GroupMemberDeletedRecordV1& b) const {
    OSTREL_CHECK_DERIVED(core::derive_group_member_id(GroupMemberIdInputV1{b.group_id, b.member}), id);
    if (*id != b.group_member_id) return fail("invalid group membership deletion");
    return {};
  }
  StructureCheck operator()(const GrantRecordV1& b) const {
    OSTREL_CHECK_DERIVED(seed_id("ostrel.grant.v1", b.seed), id);
    if (auto r = check_structure(b.permission); !r) return r;
    if (*id != b.grant_id.value) return fail("invalid grant");
    return {};
  }
  StructureCheck operator()(const GrantDeletedRecordV1& b) const { return check_structure(b.permission); }
  StructureCheck operator()(const UserDeletedRecordV1& b) const {
    if (b.user_id == root) return fail("invalid user deletion");
    return {};
  }
  StructureCheck operator()(const SecretRecordV1& b) const {
    if (auto r = check_structure(b.selector); !r) return r;
    OSTREL_CHECK_DERIVED(core::derive_secret_id(b.selector), id);
    if (*id != b.secret_id) return fail("invalid secret value");
    if (names_a_recipient_twice(b.payload)) return fail("duplicate recipient slot");
    return {};
  }
  StructureCheck operator()(const SecretDeletedRecordV1& b) const {
    if (auto r = check_structure(b.selector); !r) return r;
    OSTREL_CHECK_DERIVED(core::derive_secret_id(b.selector), id);
    if (*id != b.secret_id) return fail("invalid secret deletion");
    return {};
  }
  StructureCheck operator()(const VaultHandleRecordV1& b) const {
    if (!is_valid_handle(b.handle)) return fail("invalid vault handle record");
    OSTREL_CHECK_DERIVED(core::derive_vault_handle_id(b.handle), id);
    if (*id != b.handle_id) return fail("invalid vault handle record");
    return {};
  }
};

#undef OSTREL_CHECK_DERIVED

}  // namespace

bool names_a_recipient_twice(const SealedPayloadV1& payload) {
  const std::vector<RecipientSlotV1>& slots = payload.recipient_slots;
  // Slots are few: compared pairwise while there is a handful, through a sorted list of their
  // ids beyond, so a hostile payload with many slots costs n log n.
  constexpr std::size_t kPairwise = 16;
  if (slots.size() <= kPairwise) {
    for (std::size_t i = 0; i < slots.size(); ++i) {
      for (std::size_t j = i + 1; j < slots.size(); ++j) {
        if (slots[i].recipient == slots[j].recipient) return true;
      }
    }
    return false;
  }
  std::vector<const UserId*> ids;
  ids.reserve(slots.size());
  for (const RecipientSlotV1& slot : slots) ids.push_back(&slot.recipient);
  std::sort(ids.begin(), ids.end(), [](const UserId* a, const UserId* b) { return *a < *b; });
  return std::adjacent_find(ids.begin(), ids.end(), [](const UserId* a, const UserId* b) { return *a == *b; }) !=
         ids.end();
}

ValidationIssue to_invalid_structure(const CoreError& error) {
  return ValidationIssue::invalid_structure(error.message());
}

StructureCheck check(const UserRecordV1& user) {
  auto id = core::user_id_from_public_keys(user.signing_public_key, user.hpke_public_key);
  if (!id) return std::unexpected(to_invalid_structure(id.error()));
  if (*id != user.user_id) return fail("invalid user record");
  return {};
}

StructureCheck check_structure(const VaultRecordV1& record, const RecordBodyV1& body, const UserId& root_user_id) {
  if (body.kind() != RecordBodyV1::VaultRoot && body.counter() > kCounterCeiling)
    return fail("counter exceeds the supported ceiling");
  return std::visit(Rules{record, root_user_id}, body.variant());
}

}  // namespace ostrel::core
