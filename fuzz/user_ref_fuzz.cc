// Properties of user references: parsing never fails on anything but the handle rule (and then
// names the text as given); a handle it returns is normalised and valid; an id is 32 bytes; a
// prefix is lower-case hex of 8 digits or more; and resolving against a small state agrees with
// parsing about which texts are handles.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/ids.h"
#include "frontend/user/user_ref.h"

using namespace ostrel;

namespace {

const validate::VaultState& sample_state() {
  static const validate::VaultState state = [] {
    validate::VaultState s;
    s.root_key_id = HashValue(std::vector<std::uint8_t>(32, 1));
    for (std::uint8_t fill : {0x00, 0x12, 0xab, 0xff}) {
      s.users.emplace(UserId(HashValue(std::vector<std::uint8_t>(32, fill))), core::RecordPart<core::UserRecordV1>());
    }
    const UserHandleId id = *core::derive_user_handle_id("alice");
    s.user_handles.emplace(id, core::RecordPart<core::UserHandleRecordV1>::made(
                                   {id, cord::Text("alice"), UserId(HashValue(std::vector<std::uint8_t>(32, 0x12))), 1}));
    return s;
  }();
  return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = frontend::UserRef::parse(text);
  if (parsed) {
    if (const auto* h = std::get_if<frontend::UserRef::Handle>(&parsed->ref)) {
      if (!core::is_valid_handle(h->handle) || core::normalize_handle(h->handle) != h->handle) std::abort();
    } else if (std::get<UserId>(parsed->ref).value.bytes.size() != 32) {
      std::abort();
    }
  } else if (parsed.error().kind() != FrontendError::InvalidUserHandle) {
    std::abort();
  }
  if (auto prefix = frontend::UserRef::parse_id_prefix(text)) {
    if (prefix->size() < 8) std::abort();
    for (char c : *prefix) {
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) std::abort();
    }
  }
  auto resolved = frontend::resolve_user_text(sample_state(), text);
  if (resolved && !sample_state().users.contains(resolved->user_id)) std::abort();
  return 0;
}
