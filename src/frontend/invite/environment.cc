#include "frontend/invite/environment.h"

#include <filesystem>
#include <utility>

#include "cord/text.h"
#include "errors/try.h"
#include "frontend/invite/parse.h"
#include "keychain/identity.h"
#include "platform/env.h"

namespace ostrel::frontend::invite {
namespace {

// getenv cannot look such a name up: it would read a shorter name, or a name and a value.
bool can_look_up(std::string_view name) {
  return !name.empty() && name.find('\0') == std::string_view::npos && name.find('=') == std::string_view::npos;
}

}  // namespace

InviteVariables read_invite_variables(std::string_view text_variable, std::string_view file_variable) {
  InviteVariables out;
  if (can_look_up(text_variable)) {
    out.text = platform::secret_env_var(std::string(text_variable).c_str());
    if (out.text && !cord::is_valid_utf8({reinterpret_cast<const char*>(out.text->data()), out.text->size()})) {
      out.text.reset();
      out.text_not_utf8 = true;
    }
  }
  if (can_look_up(file_variable)) out.file = platform::env_var(std::string(file_variable).c_str());
  return out;
}

FrontendResult<std::optional<core::Invite>> from_environment() {
  InviteVariables variables = read_invite_variables(kInviteVariable, kInviteFileVariable);
  if (variables.text_not_utf8) return std::unexpected(FrontendError::env_not_utf8(kInviteVariable));
  if (variables.text && variables.file) return std::unexpected(FrontendError(FrontendError::InviteSourceCount));
  if (!variables.text && !variables.file) return std::optional<core::Invite>();

  OSTREL_TRY_ASSIGN(auto invite, variables.text
                                     ? parse_input(InviteInput{InviteInput::Form::Text, std::move(*variables.text)})
                                     : parse(std::nullopt, std::filesystem::path(*variables.file)));
  return std::optional<core::Invite>(std::move(invite));
}

FrontendResult<std::optional<UserId>> default_user_from_environment() {
  OSTREL_TRY_ASSIGN(auto invite, from_environment());
  if (!invite.has_value()) return std::optional<UserId>();
  OSTREL_TRY_ASSIGN(auto user, keychain::user_id_from_seed((invite)->seed().span()));
  return std::optional<UserId>(std::move(user.user_id));
}

}  // namespace ostrel::frontend::invite
