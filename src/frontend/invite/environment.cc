#include "frontend/invite/environment.h"

#include <filesystem>
#include <string>

#include "cord/text.h"
#include "errors/try.h"
#include "frontend/invite/parse.h"
#include "keychain/identity.h"
#include "platform/env.h"
#include "platform/secure_memory.h"

namespace ostrel::frontend::invite {

FrontendResult<std::optional<core::Invite>> from_environment() {
  std::optional<std::string> text = platform::env_var(kInviteVariable);
  // Our copy of the text carries the seed: wiped on every way out. The environment's own stays
  // the caller's business.
  struct Wipe {
    std::optional<std::string>& text;
    ~Wipe() {
      if (text) platform::secure_wipe(text->data(), text->size());
    }
  } wipe{text};
  if (text && !cord::is_valid_utf8(*text)) return std::unexpected(FrontendError::env_not_utf8(kInviteVariable));
  std::optional<std::string> file = platform::env_var(kInviteFileVariable);
  if (text && file) return std::unexpected(FrontendError(FrontendError::InviteSourceCount));
  if (!text && !file) return std::optional<core::Invite>();

  OSTREL_TRY_ASSIGN(auto invite, text ? parse(*text, std::nullopt) : parse(std::nullopt, std::filesystem::path(*file)));
  return std::optional<core::Invite>(std::move(invite));
}

FrontendResult<std::optional<UserId>> default_user_from_environment() {
  OSTREL_TRY_ASSIGN(auto invite, from_environment());
  if (!invite.has_value()) return std::optional<UserId>();
  OSTREL_TRY_ASSIGN(auto user, keychain::user_id_from_seed((invite)->seed().span()));
  return std::optional<UserId>(std::move(user.user_id));
}

}  // namespace ostrel::frontend::invite
