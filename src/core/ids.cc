#include "core/ids.h"

#include "cord/codec.h"
#include "cord/text.h"
#include "core/access.h"
#include "crypto/domain_hash.h"
#include "errors/try.h"

namespace ostrel::core {
namespace {

// The fixed bytes of a text as the encoding writes it: 4-byte length and the NFC form.
CoreResult<HashValue> hash_text(std::string_view tag, std::string_view text) {
  OSTREL_TRY_ASSIGN(auto bytes, cord::to_vec_string(text));
  return crypto::domain_hash(tag, bytes);
}

// The id of type Id holding `hash`, or the hash's failure.
template <class Id>
CoreResult<Id> id_of(CoreResult<HashValue> hash) {
  OSTREL_TRY_ASSIGN(HashValue value, std::move(hash));
  return Id(std::move(value));
}

}  // namespace

CoreResult<SecretId> derive_secret_id(const SecretSelectorV1& selector) {
  return id_of<SecretId>(crypto::domain_hash_cord("ostrel.secret.v1", selector));
}

CoreResult<GroupMemberId> derive_group_member_id(const GroupMemberIdInputV1& input) {
  return id_of<GroupMemberId>(crypto::domain_hash_cord("ostrel.group-member.v1", input));
}

CoreResult<UserHandleId> derive_user_handle_id(std::string_view handle) {
  return id_of<UserHandleId>(hash_text("ostrel.handle.v1", normalize_handle(handle)));
}

CoreResult<VaultHandleId> derive_vault_handle_id(std::string_view handle) {
  return id_of<VaultHandleId>(hash_text("ostrel.vault-handle.v1", normalize_handle(handle)));
}

CoreResult<HashValue> key_id(std::span<const std::uint8_t> signing_public_key) {
  cord::Buffer data;
  if (auto r = cord::write_byte_string(data, signing_public_key); !r) return std::unexpected(CoreError(r.error()));
  return crypto::domain_hash("ostrel.key.v1", data);
}

std::string normalize_handle(std::string_view handle) {
  std::string out(cord::trim_white_space(handle));
  for (char& ch : out) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return out;
}

bool is_valid_handle(std::string_view h) {
  if (h.empty() || h.size() > 64) return false;
  auto alnum = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
  if (!alnum(h.front()) || !alnum(h.back())) return false;
  for (char c : h) {
    if (!alnum(c) && c != '-' && c != '_') return false;
  }
  return true;
}

}  // namespace ostrel::core
