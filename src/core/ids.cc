#include "core/ids.h"

#include "cord/codec.h"
#include "cord/text.h"
#include "crypto/domain_hash.h"

namespace ostrel {
namespace {

// The fixed bytes of a text as the encoding writes it: 4-byte length and the NFC form.
CoreResult<HashValue> hash_text(std::string_view tag, std::string_view text) {
  auto bytes = cord::to_vec_string(text);
  if (!bytes) return std::unexpected(CoreError(std::move(bytes).error()));
  return crypto::domain_hash(tag, *bytes);
}

}  // namespace

CoreResult<UserId> UserId::from_public_keys(std::span<const std::uint8_t> signing_public_key,
                                            std::span<const std::uint8_t> hpke_public_key) {
  // Two byte strings one after the other, with no framing around the pair.
  cord::Buffer data;
  data.reserve(8 + signing_public_key.size() + hpke_public_key.size());
  if (auto r = cord::write_byte_string(data, signing_public_key); !r) return std::unexpected(CoreError(r.error()));
  if (auto r = cord::write_byte_string(data, hpke_public_key); !r) return std::unexpected(CoreError(r.error()));
  return UserId(crypto::domain_hash("ostrel.user.v1", data));
}

CoreResult<UserHandleId> UserHandleId::derive(std::string_view handle) {
  auto h = hash_text("ostrel.handle.v1", core::normalize_handle(handle));
  if (!h) return std::unexpected(std::move(h).error());
  return UserHandleId(std::move(*h));
}

CoreResult<VaultHandleId> VaultHandleId::derive(std::string_view handle) {
  auto h = hash_text("ostrel.vault-handle.v1", core::normalize_handle(handle));
  if (!h) return std::unexpected(std::move(h).error());
  return VaultHandleId(std::move(*h));
}

namespace core {

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

}  // namespace core
}  // namespace ostrel
