// Identifier derivations, key ids and handles. Pure functions; safe from any thread.
#pragma once

#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "crypto/user_id.h"
#include "errors/core_error.h"
#include "ids/identifiers.h"

namespace ostrel::core {

struct SecretSelectorV1;
struct GroupMemberIdInputV1;

// Each derivation is a domain hash of the input's canonical encoding under a fixed tag; it fails
// only when the input cannot be encoded.

// `UserId::from_public_keys`: the crypto layer derives it, for the identity; its name stays here too.
using crypto::user_id_from_public_keys;
// `SecretId::derive`: "ostrel.secret.v1" over the selector.
CoreResult<SecretId> derive_secret_id(const SecretSelectorV1& selector);
// `GroupMemberId::derive`: "ostrel.group-member.v1" over the group and the member.
CoreResult<GroupMemberId> derive_group_member_id(const GroupMemberIdInputV1& input);
// `UserHandleId::derive` and `VaultHandleId::derive`: normalise the handle first (no validation),
// then "ostrel.handle.v1" or "ostrel.vault-handle.v1" over it as a text.
CoreResult<UserHandleId> derive_user_handle_id(std::string_view handle);
CoreResult<VaultHandleId> derive_vault_handle_id(std::string_view handle);
// Either of the two, for code written over both kinds of handle.
template <class Id>
  requires std::same_as<Id, UserHandleId> || std::same_as<Id, VaultHandleId>
CoreResult<Id> derive_handle_id(std::string_view handle) {
  if constexpr (std::same_as<Id, UserHandleId>) {
    return derive_user_handle_id(handle);
  } else {
    return derive_vault_handle_id(handle);
  }
}

// Domain hash "ostrel.key.v1" over the Ed25519 signing public key as a byte string. Names the
// vault root to trust.
CoreResult<HashValue> key_id(std::span<const std::uint8_t> signing_public_key);

// Trims Unicode White_Space at both ends and lowers ASCII capitals; nothing else changes.
std::string normalize_handle(std::string_view handle);

// 1 to 64 bytes of a-z, 0-9, '-' and '_', starting and ending with a letter or digit.
bool is_valid_handle(std::string_view handle);

}  // namespace ostrel::core
