#include "frontend/user/user_ref.h"

#include <algorithm>
#include <utility>

#include "core/hex.h"
#include "core/ids.h"
#include "errors/shared_texts.h"
#include "errors/try.h"
#include "ops/open_vault.h"

namespace ostrel::frontend {
namespace {

constexpr std::size_t kUserIdBytes = 32;
constexpr std::size_t kUserIdDigits = 2 * kUserIdBytes;
constexpr std::size_t kMinPrefixDigits = 8;

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

FrontendResult<UserRef> UserRef::parse(std::string_view text) {
  if (text.starts_with('@')) {
    OSTREL_TRY_ASSIGN(std::string handle, parse_handle(text.substr(1)));
    return UserRef{Handle{std::move(handle)}};
  }
  if (auto bytes = core::hex_decode(text, "user"); bytes && bytes->size() == kUserIdBytes) {
    return UserRef{UserId(HashValue(*bytes))};
  }
  OSTREL_TRY_ASSIGN(std::string handle, parse_handle(text));
  return UserRef{Handle{std::move(handle)}};
}

FrontendResult<std::string> UserRef::parse_handle(std::string_view text) {
  std::string_view rest = text;
  if (rest.starts_with('@')) rest.remove_prefix(1);
  std::string handle = core::normalize_handle(rest);
  if (!core::is_valid_handle(handle)) {
    return std::unexpected(FrontendError::invalid_user_handle(std::string(text), errors::kHandleRule));
  }
  return handle;
}

std::optional<std::string> UserRef::parse_id_prefix(std::string_view text) {
  if (text.size() < 2) return std::nullopt;
  if (text.starts_with("0x")) text.remove_prefix(2);
  if (text.size() < kMinPrefixDigits || !std::ranges::all_of(text, is_hex_digit)) return std::nullopt;
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

OpsResult<ResolvedUser> UserRef::resolve(const validate::VaultState& state) const {
  if (const UserId* id = std::get_if<UserId>(&ref)) {
    if (!state.users.contains(*id)) return std::unexpected(OpsError::user_missing(*id));
    std::optional<std::string> handle;
    if (const core::UserHandleRecordV1* named = ops::user_handle_name(state, *id)) {
      handle = core::normalize_handle(named->handle.view());
    }
    return ResolvedUser{*id, std::move(handle)};
  }
  const std::string& given = std::get<Handle>(ref).handle;
  std::string handle = core::normalize_handle(given);
  if (!core::is_valid_handle(handle)) return std::unexpected(OpsError::invalid_user_handle(given, errors::kHandleRule));
  OSTREL_TRY_ASSIGN(const UserHandleId handle_id, core::derive_user_handle_id(handle));
  const auto found = state.user_handles.find(handle_id);
  if (found == state.user_handles.end()) return std::unexpected(OpsError::user_handle_not_found(std::move(handle)));
  const core::UserHandleRecordV1& record = *found->second;
  if (!state.users.contains(record.user_id)) {
    return std::unexpected(OpsError::user_handle_dangling(std::move(handle), record.user_id));
  }
  return ResolvedUser{record.user_id, core::normalize_handle(record.handle.view())};
}

std::optional<UserId> next_user_with_id_prefix(const validate::VaultState& state, std::string_view prefix,
                                               const UserId* after) {
  auto it = after != nullptr ? state.users.upper_bound(*after) : state.users.begin();
  for (; it != state.users.end(); ++it) {
    if (core::hex_encode(it->first.value.bytes).starts_with(prefix)) return it->first;
  }
  return std::nullopt;
}

FrontendResult<ResolvedUser> resolve_user_text(const validate::VaultState& state, std::string_view text) {
  std::optional<UserRef> ref;
  if (!text.starts_with('@')) {
    if (auto prefix = UserRef::parse_id_prefix(text); prefix && prefix->size() < kUserIdDigits) {
      const std::optional<UserId> first = next_user_with_id_prefix(state, *prefix);
      if (!first) return std::unexpected(FrontendError::no_user_matches(std::string(text)));
      if (next_user_with_id_prefix(state, *prefix, &*first)) {
        return std::unexpected(FrontendError::user_ambiguous(std::string(text)));
      }
      ref = UserRef{*first};
    }
  }
  if (!ref) {
    OSTREL_TRY_ASSIGN(ref, UserRef::parse(text));
  }
  OSTREL_TRY_ASSIGN(ResolvedUser resolved, ref->resolve(state));
  return resolved;
}

}  // namespace ostrel::frontend
