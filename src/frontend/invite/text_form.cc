#include "frontend/invite/text_form.h"

#include "cord/text.h"
#include "frontend/invite/bech32.h"

namespace ostrel::frontend::invite {

FrontendResult<cord::Buffer> decode_text(std::string_view text) {
  auto decoded = bech32_decode(cord::trim_white_space(text), kMaxTextLength);
  if (!decoded) return std::unexpected(FrontendError(FrontendError::InviteMalformed));
  // The checksum is checked before the prefix, so a well-formed text for another purpose names
  // its prefix instead of being called malformed.
  if (decoded->prefix != kTextPrefix) return std::unexpected(FrontendError::invite_prefix(std::move(decoded->prefix)));
  return groups_to_bytes(decoded->data);
}

FrontendResult<std::string> encode_text(std::span<const std::uint8_t> payload) {
  const Groups groups = bytes_to_groups(payload);
  // Prefix, separator, data and checksum; checked before anything is written.
  if (kTextPrefix.size() + 1 + groups.size() + kBech32ChecksumLength > kMaxTextLength)
    return std::unexpected(FrontendError(FrontendError::InviteTooLargeForText));
  return bech32_encode(kTextPrefix, groups, Bech32Encoding::Bech32m);
}

}  // namespace ostrel::frontend::invite
