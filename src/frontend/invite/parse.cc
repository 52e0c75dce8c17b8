#include "frontend/invite/parse.h"

#include <algorithm>

#include "cord/codec.h"
#include "errors/try.h"
#include "frontend/invite/text_form.h"
#include "store/io.h"

namespace ostrel::frontend::invite {
namespace {

FrontendResult<core::Invite> decode_payload(std::span<const std::uint8_t> payload) {
  OSTREL_TRY_ASSIGN(auto invite, cord::from_slice<core::Invite>(payload));
  return invite;
}

}  // namespace

FrontendResult<core::Invite> parse(std::optional<std::string_view> text, std::optional<std::filesystem::path> file) {
  if (text.has_value() == file.has_value()) return std::unexpected(FrontendError(FrontendError::InviteSourceCount));
  if (text) {
    OSTREL_TRY_ASSIGN(auto payload, decode_text(*text));
    return decode_payload(payload);
  }
  auto bytes = store::read_secret_file_bounded(*file, kMaxFileBytes);
  if (!bytes) return std::unexpected(FrontendError::io_at(std::move(*file), std::move(bytes).error()));
  return parse_file_bytes(*bytes);
}

FrontendResult<core::Invite> parse_file_bytes(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kMagic.size() || !std::equal(kMagic.begin(), kMagic.end(), bytes.begin()))
    return std::unexpected(FrontendError(FrontendError::InviteMalformed));
  return decode_payload(bytes.subspan(kMagic.size()));
}

FrontendResult<core::Invite> parse_input(const InviteInput& input) {
  if (input.form == InviteInput::Form::Bytes) return parse_file_bytes(input.data.span());
  return parse(std::string_view(reinterpret_cast<const char*>(input.data.data()), input.data.size()), std::nullopt);
}

FrontendResult<std::string> to_text(const core::Invite& invite) {
  OSTREL_TRY_ASSIGN(auto payload, cord::to_vec(invite));
  return encode_text(payload);
}

FrontendResult<cord::Buffer> to_file_bytes(const core::Invite& invite) {
  cord::Buffer out(kMagic.begin(), kMagic.end());
  cord::Serializer s(out);
  OSTREL_TRY(cord::encode(s, invite));
  return out;
}

}  // namespace ostrel::frontend::invite
