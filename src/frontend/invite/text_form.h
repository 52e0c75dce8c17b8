// The text form of an invitation: Bech32 or Bech32m under the prefix "ostr", its data the
// canonical encoding of an Invite with no magic before it. Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cord/serializer.h"
#include "errors/frontend_error.h"

namespace ostrel::frontend::invite {

inline constexpr std::string_view kTextPrefix = "ostr";
// Far above BIP 173's 90 characters: an invitation carries a seed, a root and a baseline.
inline constexpr std::size_t kMaxTextLength = 1023;

// The payload bytes of an invitation text. Unicode White_Space around it is removed first; the
// rest must be a Bech32 or Bech32m string of at most kMaxTextLength characters (see
// bech32_decode), else FrontendError::InviteMalformed. Bits left over after the last whole byte
// are dropped. A prefix other than "ostr", compared as written (an upper-case text gives OSTR), is
// FrontendError::InvitePrefix naming it.
FrontendResult<cord::Buffer> decode_text(std::string_view text);

// The canonical text of a payload: lower case, Bech32m, prefix "ostr". Above kMaxTextLength
// characters it is FrontendError::InviteTooLargeForText.
FrontendResult<std::string> encode_text(std::span<const std::uint8_t> payload);

}  // namespace ostrel::frontend::invite
