// The front end's three roads to a session on real files: the environment's invitation (one reader
// of the two variables, and the road's own rules over it), an invitation handed over as text or
// bytes, and the keychain with a given passphrase; and the workspace paths they start from.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/ids.h"
#include "core/validate/ratchet_state.h"
#include "frontend/invite/environment.h"
#include "frontend/invite/parse.h"
#include "frontend/session/open.h"
#include "keychain/layout.h"
#include "store/ratchet_file.h"
#include "store/vault_file.h"
#include "support/hex.h"
#include "support/identities.h"
#include "support/keychain.h"
#include "support/scratch.h"
#include "support/secret_text.h"
#include "support/vault_builder.h"

namespace ostrel::frontend {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ScopedEnv;
using testing::ScratchDir;

// A vault of root (fill 1) with alice (fill 2) as a member, in a scratch folder with its own state
// directory and keychain folder; invitations for alice and for a stranger (fill 3).
class Workspace : public ::testing::Test {
 protected:
  Workspace()
      : root_(testing::identity_of(1)), alice_(testing::identity_of(2)),
        root_id_(*core::key_id(root_.signing_public_key)) {
    testing::VaultBuilder vault(root_);
    vault.add_member(root_, alice_);
    testing::plant_file(paths_.vault_file, *store::encode_vault_file(vault.record_set()));
  }

  // An invitation for the identity of `fill` with an empty baseline.
  core::Invite invite_for(std::uint8_t fill) const {
    return core::InviteV1{platform::SecretBytes::copy_of(Bytes(32, fill)), root_id_, {}};
  }
  std::string text_of(const core::Invite& invite) const { return invite::to_text(invite).value(); }
  std::filesystem::path file_of(const core::Invite& invite, const char* name) const {
    const cord::Buffer bytes = invite::to_file_bytes(invite).value();
    testing::plant_file(dir_ / name, bytes);
    return dir_ / name;
  }

  ScratchDir dir_;
  ScopedEnv state_dir_{"OSTREL_STATE_DIR", (dir_ / "state").string()};
  ScopedEnv keychain_dir_{"OSTREL_KEYCHAIN_DIR", (dir_ / "keychain").string()};
  ScopedEnv appdata_{"APPDATA", std::nullopt};
  ScopedEnv text_variable_{invite::kInviteVariable, std::nullopt};
  ScopedEnv file_variable_{invite::kInviteFileVariable, std::nullopt};
  store::WorkspacePaths paths_ = workspace_paths(dir_ / "ws" / ".ostrel");
  crypto::Identity root_, alice_;
  HashValue root_id_;
};

TEST_F(Workspace, ReaderOfTheInviteVariables) {
  struct Case {
    const char* name;
    const char* text_name;
    const char* file_name;
    std::optional<std::string> text_value, file_value;
    std::optional<std::string> want_text;  // what `text` holds
    bool want_not_utf8;
    std::optional<std::string> want_file;
  };
  const char* kText = "OSTREL_TEST_INVITE_TEXT";
  const char* kFile = "OSTREL_TEST_INVITE_FILE";
  const Case cases[] = {
      {"unset", kText, kFile, std::nullopt, std::nullopt, std::nullopt, false, std::nullopt},
      {"empty values count as set", kText, kFile, "", "", "", false, ""},
      {"both set", kText, kFile, "ostr1abc", "/a/b", "ostr1abc", false, "/a/b"},
      {"text not UTF-8", kText, kFile, std::string("ostr1\xFF"), std::nullopt, std::nullopt, true, std::nullopt},
      {"a file name of any bytes", kText, kFile, std::nullopt, std::string("/a/\xFF"), std::nullopt, false,
       std::string("/a/\xFF")},
      {"a name with '=' is never looked up", "OSTREL_TEST_INVITE_TEXT=x", "", "x=ostr1abc", "/a/b", std::nullopt,
       false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv text(kText, c.text_value), file(kFile, c.file_value);
    const invite::InviteVariables got = invite::read_invite_variables(c.text_name, c.file_name);
    EXPECT_EQ(got.text ? std::optional<std::string>(testing::text_of(*got.text)) : std::nullopt, c.want_text);
    EXPECT_EQ(got.text_not_utf8, c.want_not_utf8);
    EXPECT_EQ(got.file, c.want_file);
  }
  // A name holding a NUL would be looked up only up to the NUL.
  ScopedEnv text(kText, "ostr1abc");
  EXPECT_FALSE(invite::read_invite_variables(std::string(kText) + std::string("\0x", 2), kFile).text);
}

TEST_F(Workspace, EnvironmentRoadRules) {
  const std::string text = text_of(invite_for(2));
  const std::string file = file_of(invite_for(2), "alice.invite").string();
  const std::string missing = (dir_ / "missing.invite").string();
  struct Case {
    const char* name;
    std::optional<std::string> text_value, file_value;
    std::string want;  // "alice", "neither", "both", or the front end's message
  };
  const Case cases[] = {
      {"neither set", std::nullopt, std::nullopt, "neither"},
      {"text", text, std::nullopt, "alice"},
      {"file", std::nullopt, file, "alice"},
      {"both", text, file, "both"},
      {"text not UTF-8 counts as unset", std::string("ostr1\xFF"), std::nullopt, "neither"},
      {"text not UTF-8 beside a file", std::string("ostr1\xFF"), file, "alice"},
      {"empty text is parsed", "", std::nullopt, "invitation string is malformed or has a bad checksum"},
      {"missing file", std::nullopt, missing, "I/O error at " + missing + ": No such file or directory (os error 2)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv text_env("OSTREL_TEST_INVITE_TEXT", c.text_value), file_env("OSTREL_TEST_INVITE_FILE", c.file_value);
    auto got = open_session_from_environment(paths_, "OSTREL_TEST_INVITE_TEXT", "OSTREL_TEST_INVITE_FILE");
    if (c.want == "alice") {
      ASSERT_TRUE(got);
      EXPECT_EQ(got->identity.user_id, alice_.user_id);
    } else if (c.want == "neither" || c.want == "both") {
      ASSERT_FALSE(got);
      ASSERT_TRUE(std::holds_alternative<InviteVariablesRefusal>(got.error()));
      EXPECT_EQ(std::get<InviteVariablesRefusal>(got.error()),
                c.want == "neither" ? InviteVariablesRefusal::NeitherSet : InviteVariablesRefusal::BothSet);
    } else {
      ASSERT_FALSE(got);
      ASSERT_TRUE(std::holds_alternative<FrontendError>(got.error()));
      EXPECT_EQ(std::get<FrontendError>(got.error()).message(), c.want);
    }
  }
}

// The unreadable file is named as the variable names it, and the road reads the variables it is
// given, not the front end's own.
TEST_F(Workspace, EnvironmentRoadNamesAnUnreadableFile) {
  ScopedEnv own(invite::kInviteVariable, text_of(invite_for(2)));
  ScopedEnv folder("OSTREL_TEST_INVITE_FILE", dir_.path().string());
  auto got = open_session_from_environment(paths_, "OSTREL_TEST_INVITE_TEXT", "OSTREL_TEST_INVITE_FILE");
  ASSERT_FALSE(got);
  ASSERT_TRUE(std::holds_alternative<FrontendError>(got.error()));
  const FrontendError& error = std::get<FrontendError>(got.error());
  EXPECT_EQ(error.kind(), FrontendError::IoAt);
  EXPECT_EQ(error.path(), dir_.path());
  EXPECT_EQ(error.io_error().message(), "not a regular file");
}

TEST_F(Workspace, InviteRoadTakesEitherForm) {
  using Form = invite::InviteInput::Form;
  const cord::Buffer bytes = invite::to_file_bytes(invite_for(2)).value();
  for (const Form form : {Form::Text, Form::Bytes}) {
    auto got = open_session_from_invite(paths_, {form, form == Form::Text ? testing::secret_of(text_of(invite_for(2)))
                                                                          : platform::SecretBytes::copy_of(bytes)});
    ASSERT_TRUE(got) << got.error().message();
    EXPECT_EQ(got->identity.user_id, alice_.user_id);
  }
  // Each form is parsed as that form only.
  auto bytes_as_text = open_session_from_invite(
      paths_, {Form::Text, platform::SecretBytes::copy_of(bytes)});
  ASSERT_FALSE(bytes_as_text);
  EXPECT_EQ(bytes_as_text.error().kind(), FrontendError::InviteMalformed);
  auto text_as_bytes = open_session_from_invite(
      paths_, {Form::Bytes, testing::secret_of(text_of(invite_for(2)))});
  ASSERT_FALSE(text_as_bytes);
  EXPECT_EQ(text_as_bytes.error().kind(), FrontendError::InviteMalformed);
  // A failure of the operations comes through whole.
  core::Invite elsewhere = core::InviteV1{platform::SecretBytes::copy_of(Bytes(32, 2)), HashValue(Bytes(32, 9)), {}};
  auto other_root = open_session_from_invite(
      paths_, {Form::Text, testing::secret_of(text_of(elsewhere))});
  ASSERT_FALSE(other_root);
  EXPECT_EQ(other_root.error().kind(), FrontendError::Ops);
  EXPECT_EQ(other_root.error().ops_error().kind(), OpsError::InviteRootMismatch);
}

// alice's identity sealed under "pw" in the keychain, and a remembered ratchet for the root.
class KeychainWorkspace : public Workspace {
 protected:
  KeychainWorkspace() {
    const Bytes seed(32, 2);
    const Bytes root(root_id_.bytes.begin(), root_id_.bytes.end());
    const Bytes user(alice_.user_id.value.bytes.begin(), alice_.user_id.value.bytes.end());
    testing::plant_file(keychain::identity_path(dir_ / "keychain", root_id_, alice_.user_id),
                        testing::identity_file(testing::seal_identity(seed, root, user, "pw", testing::cheap_kdf())));
    EXPECT_TRUE(store::save_ratchet(paths_, validate::RatchetState::fresh(root_id_)));
  }
  void make_alice_current() {
    const Bytes user(alice_.user_id.value.bytes.begin(), alice_.user_id.value.bytes.end());
    testing::plant_file(keychain::current_user_path(dir_ / "keychain", root_id_),
                        testing::current_user_file({user, std::nullopt}));
  }
};

TEST_F(KeychainWorkspace, KeychainRoadWithAGivenPassphrase) {
  const std::string alice_hex = testing::to_hex(alice_.user_id.value.bytes);
  auto named = open_session_from_keychain(paths_, alice_hex, testing::secret_of("pw"), "test");
  ASSERT_TRUE(named) << named.error().message();
  EXPECT_EQ(named->identity.user_id, alice_.user_id);

  auto nobody = open_session_from_keychain(paths_, std::nullopt, testing::secret_of("pw"), "test");
  ASSERT_FALSE(nobody);
  EXPECT_EQ(nobody.error().kind(), FrontendError::NoDefaultIdentity);
  make_alice_current();
  auto current = open_session_from_keychain(paths_, std::nullopt, testing::secret_of("pw"), "test");
  ASSERT_TRUE(current) << current.error().message();
  EXPECT_EQ(current->identity.user_id, alice_.user_id);
}

TEST_F(KeychainWorkspace, KeychainRoadFailuresKeepTheirWords) {
  make_alice_current();
  auto wrong = open_session_from_keychain(paths_, std::nullopt, testing::secret_of("not pw"), "test");
  ASSERT_FALSE(wrong);
  EXPECT_EQ(wrong.error().message(), "identity keychain unlock failed");

  auto unknown = open_session_from_keychain(paths_, "@nobody", testing::secret_of("pw"), "test");
  ASSERT_FALSE(unknown);
  EXPECT_EQ(unknown.error().message(), "user handle @nobody does not exist");

  // Named, so the keychain's current user is not read; the folder is looked for only to unlock.
  ScopedEnv no_keychain("OSTREL_KEYCHAIN_DIR", std::nullopt);
  auto no_folder = open_session_from_keychain(paths_, testing::to_hex(alice_.user_id.value.bytes),
                                              testing::secret_of("pw"), "test");
  ASSERT_FALSE(no_folder);
  EXPECT_EQ(no_folder.error().kind(), FrontendError::Keychain);
  EXPECT_EQ(no_folder.error().message(),
            "passphrase identity keychain backend is unavailable: OSTREL_KEYCHAIN_DIR, APPDATA, XDG_DATA_HOME, and HOME "
            "are unset");
}

TEST(WorkspacePaths, AnchoredAtTheCurrentDirectory) {
  const std::filesystem::path here = std::filesystem::current_path();
  struct Case {
    const char* name;
    std::filesystem::path vault_dir;
    std::optional<std::string> state_dir;
    std::filesystem::path want_vault_file, want_state_dir;
  };
  const Case cases[] = {
      {"relative folder and state directory", ".ostrel", "state", here / ".ostrel" / "vault.cord", here / "state"},
      {"trailing separator", "ws/.ostrel/", "/abs/state", here / "ws/.ostrel/vault.cord", "/abs/state"},
      {"absolute folder, empty state directory", "/abs/ws/.ostrel", "", "/abs/ws/.ostrel/vault.cord", here},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv state("OSTREL_STATE_DIR", c.state_dir);
    const store::WorkspacePaths paths = workspace_paths(c.vault_dir);
    EXPECT_EQ(paths.vault_file, c.want_vault_file);
    EXPECT_EQ(paths.state_dir, c.want_state_dir);
  }
}

}  // namespace
}  // namespace ostrel::frontend
