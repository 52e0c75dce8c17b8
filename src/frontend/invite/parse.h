// Invitations in their two forms: the text form and the byte form (the magic "ostrel-invite" and
// a zero byte, then the canonical encoding of an Invite), given directly or as a file. Reads
// files through the store's bounded reader; otherwise pure. Safe from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/invite.h"
#include "cord/serializer.h"
#include "errors/frontend_error.h"
#include "platform/secret.h"

namespace ostrel::frontend::invite {

inline constexpr std::string_view kMagic{"ostrel-invite\0", 14};
// The largest invitation file read (0x10100000 bytes).
inline constexpr std::uint64_t kMaxFileBytes = 269'484'032;

// Exactly one of `text` and `file`, else FrontendError::InviteSourceCount. A text goes through
// decode_text; a file is read (regular files only, at most kMaxFileBytes; a failure is
// FrontendError::IoAt naming it) and decoded as the byte form. A payload that is not an Invite
// is FrontendError::Cord.
FrontendResult<core::Invite> parse(std::optional<std::string_view> text,
                                   std::optional<std::filesystem::path> file);

// The byte form: fewer than 14 bytes or another magic is FrontendError::InviteMalformed (the
// magic alone is a truncated Invite, FrontendError::Cord); the rest must be one Invite and nothing
// after it.
FrontendResult<core::Invite> parse_file_bytes(std::span<const std::uint8_t> bytes);

// An invitation as a caller hands it over, before decoding: its text form or its byte form, kept
// in wiping memory.
struct InviteInput {
  enum class Form { Text, Bytes };
  Form form;
  platform::SecretBytes data;

  InviteInput clone() const { return {form, data.clone()}; }
};

// parse of the text form (as text, no file) or parse_file_bytes of the byte form.
FrontendResult<core::Invite> parse_input(const InviteInput& input);

// The canonical forms of an invitation, for the tools that hand invitations out: the text (or
// FrontendError::InviteTooLargeForText) and the bytes. An Invite that cannot be encoded (a string
// in a baseline record that is not UTF-8) is FrontendError::Cord.
FrontendResult<std::string> to_text(const core::Invite& invite);
FrontendResult<cord::Buffer> to_file_bytes(const core::Invite& invite);

}  // namespace ostrel::frontend::invite
