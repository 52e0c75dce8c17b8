// Naming users by handle, full id and id prefix against a validated state, the quirks of that
// grammar, the display handles, and the default-user chain (named, keychain, invitation).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ids.h"
#include "frontend/invite/parse.h"
#include "frontend/user/select.h"
#include "frontend/user/user_ref.h"
#include "keychain/files.h"
#include "keychain/identity.h"
#include "keychain/layout.h"
#include "ops/open_vault.h"
#include "support/hex.h"
#include "support/keychain.h"
#include "support/scratch.h"

namespace ostrel::frontend {
namespace {

using testing::from_hex;

const std::string kAliceHex = "12345678" + std::string(56, '0');
const std::string kBobHex = "12345678" + std::string(56, '1');
const std::string kCarolHex = "cafe" + std::string(60, '2');
const std::string kGhostHex = std::string(64, '9');
const std::vector<std::uint8_t> kRoot(32, 0x77);
const HashValue kRootId(kRoot);

UserId id(const std::string& hex) { return UserId(HashValue(from_hex(hex))); }

void add_handle(validate::VaultState& state, const char* handle, const UserId& user) {
  const UserHandleId hid = *core::derive_user_handle_id(handle);
  state.user_handles.emplace(hid, core::RecordPart<core::UserHandleRecordV1>::made({hid, cord::Text(handle), user, 1}));
}

// alice and bob share the id prefix 12345678; carol carries the handle "deadbeef", which no id
// starts with; the handle "ghost" names a user not in effect.
validate::VaultState sample_state() {
  validate::VaultState state;
  state.root_key_id = HashValue(kRoot);
  for (const auto& hex : {kAliceHex, kBobHex, kCarolHex}) state.users.emplace(id(hex), core::RecordPart<core::UserRecordV1>());
  add_handle(state, "alice", id(kAliceHex));
  add_handle(state, "Bob", id(kBobHex));
  add_handle(state, "bobby", id(kBobHex));
  add_handle(state, "deadbeef", id(kCarolHex));
  add_handle(state, "ghost", id(kGhostHex));
  return state;
}

TEST(ResolveUserText, ByHandleIdAndPrefix) {
  const validate::VaultState state = sample_state();
  struct Case {
    std::string text;
    std::string want;  // the user's hex, or the error's text
    std::optional<std::string> handle = std::nullopt;
  };
  const std::string upper_alice = "0x" + std::string("12345678") + std::string(56, '0');
  const std::vector<Case> cases{
      {"@alice", kAliceHex, "alice"},
      {"@Alice", kAliceHex, "alice"},
      {"  alice\t", kAliceHex, "alice"},
      {"@@alice", kAliceHex, "alice"},
      {"@bob", kBobHex, "bob"},
      {kAliceHex, kAliceHex, "alice"},
      {upper_alice, kAliceHex, "alice"},
      {"CAFE" + std::string(60, '2'), kCarolHex, "deadbeef"},
      {kAliceHex.substr(0, 63), kAliceHex, "alice"},
      {"123456780", kAliceHex, "alice"},
      {"0x1234567811", kBobHex, "bob"},
      {"CAFE2222", kCarolHex, "deadbeef"},
      // Eight hex digits are a prefix even when a handle reads the same.
      {"deadbeef", "no user matches \"deadbeef\""},
      {" deadbeef", kCarolHex, "deadbeef"},
      {"@deadbeef", kCarolHex, "deadbeef"},
      {"12345678", "user \"12345678\" is ambiguous"},
      {"0x12345678", "user \"0x12345678\" is ambiguous"},
      // Not prefixes: seven digits, and a capital X.
      {"1234567", "user handle @1234567 does not exist"},
      {"0X12345678", "user handle @0x12345678 does not exist"},
      {kGhostHex, "user " + id(kGhostHex).debug() + " is missing an active user record"},
      {"@ghost", "user handle @ghost points to missing user " + id(kGhostHex).debug()},
      {"", "invalid user handle \"\": handle must be 1–64 chars of a–z, 0–9, '-', '_', starting and ending with a letter or digit"},
      {"@", "invalid user handle \"\": handle must be 1–64 chars of a–z, 0–9, '-', '_', starting and ending with a letter or digit"},
      {"-alice", "invalid user handle \"-alice\": handle must be 1–64 chars of a–z, 0–9, '-', '_', starting and ending with a letter or digit"},
      {"alice_", "invalid user handle \"alice_\": handle must be 1–64 chars of a–z, 0–9, '-', '_', starting and ending with a letter or digit"},
      {"a.b", "invalid user handle \"a.b\": handle must be 1–64 chars of a–z, 0–9, '-', '_', starting and ending with a letter or digit"},
      {std::string(65, 'a'), "invalid user handle \"" + std::string(65, 'a') + "\": handle must be 1–64 chars of a–z, 0–9, '-', '_', starting and ending with a letter or digit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto got = resolve_user_text(state, c.text);
    if (got) {
      EXPECT_EQ(testing::to_hex(got->user_id.value.bytes), c.want);
      EXPECT_EQ(got->handle, c.handle);
    } else {
      EXPECT_EQ(got.error().message(), c.want);
    }
  }
}

TEST(UserRef, ParseKeepsIdsAndHandlesApart) {
  // 64 digits name an id even when they would make a valid handle.
  EXPECT_EQ(*UserRef::parse(kAliceHex), (UserRef{id(kAliceHex)}));
  EXPECT_EQ(*UserRef::parse("@" + kAliceHex), (UserRef{UserRef::Handle{kAliceHex}}));
  EXPECT_EQ(*UserRef::parse("abcd"), (UserRef{UserRef::Handle{"abcd"}}));
  EXPECT_EQ(UserRef::parse_id_prefix("0xABCDEF01"), "abcdef01");
  EXPECT_EQ(UserRef::parse_id_prefix("0x"), std::nullopt);
  EXPECT_EQ(UserRef::parse_id_prefix("abcdef0g"), std::nullopt);
}

TEST(DisplayHandles, SmallestNormalisedWins) {
  validate::VaultState state = sample_state();
  EXPECT_EQ(ops::user_handle_name(state, id(kBobHex))->handle.view(), "Bob");
  EXPECT_EQ(ops::user_handle_name(state, id("ff" + std::string(62, '0'))), nullptr);
  EXPECT_EQ(ops::vault_handle_name(state), nullptr);
  for (const char* h : {"zeta", " Acme", "beta"}) {
    const VaultHandleId vid = *core::derive_vault_handle_id(h);
    state.vault_handles.emplace(vid, core::RecordPart<core::VaultHandleRecordV1>::made({vid, cord::Text(h), 1}));
  }
  EXPECT_EQ(ops::vault_handle_name(state)->handle.view(), " Acme");
}

// The default-user chain reads the keychain and the environment.
class SelectUser : public ::testing::Test {
 protected:
  SelectUser()
      : keychain_dir_("OSTREL_KEYCHAIN_DIR", dir_.path().string()), appdata_("APPDATA", std::nullopt),
        invite_("OSTREL_UNSAFE_INVITE", std::nullopt), invite_file_("OSTREL_UNSAFE_INVITE_FILE", std::nullopt) {}

  void set_current_user(std::vector<std::uint8_t> user) {
    testing::plant_file(keychain::current_user_path(dir_.path(), kRootId), testing::current_user_file({std::move(user), std::nullopt}));
  }

  testing::ScratchDir dir_;
  testing::ScopedEnv keychain_dir_, appdata_, invite_, invite_file_;
};

TEST_F(SelectUser, NamedUserComesFirst) {
  set_current_user(from_hex(kBobHex));
  auto got = frontend::select_user(sample_state(), "@alice");
  ASSERT_TRUE(got) << got.error().message();
  EXPECT_EQ(got->user.user_id, id(kAliceHex));
  EXPECT_EQ(got->root, HashValue(kRoot));
  EXPECT_TRUE(got->named);
}

TEST_F(SelectUser, KeychainCurrentUserIsTheDefault) {
  set_current_user(from_hex(kBobHex));
  auto got = frontend::select_user(sample_state(), std::nullopt);
  ASSERT_TRUE(got) << got.error().message();
  EXPECT_EQ(got->user, (ResolvedUser{id(kBobHex), "bob"}));
  EXPECT_FALSE(got->named);
}

TEST_F(SelectUser, StoredIdIsResolvedExactly) {
  // Five bytes whose hex would be a prefix of alice's id, and 32 bytes of a user not in effect:
  // each is missing, never some other user.
  for (const std::string& hex : {std::string("1234567800"), kGhostHex}) {
    SCOPED_TRACE(hex);
    set_current_user(from_hex(hex));
    auto got = frontend::select_user(sample_state(), std::nullopt);
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().message(), "user " + id(hex).debug() + " is missing an active user record");
  }
}

TEST_F(SelectUser, InvitationIsTheLastFallback) {
  auto none = frontend::select_user(sample_state(), std::nullopt);
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().message(), "no default Ostrel identity is configured; pass --user once");

  // An invitation whose seed makes a user who is in effect.
  const std::vector<std::uint8_t> seed(32, 0x5e);
  const UserId invited = keychain::user_id_from_seed(seed)->user_id;
  validate::VaultState state = sample_state();
  state.users.emplace(invited, core::RecordPart<core::UserRecordV1>());
  const core::Invite invite = core::InviteV2{platform::SecretBytes::copy_of(seed), HashValue(kRoot), std::nullopt};
  testing::ScopedEnv text("OSTREL_UNSAFE_INVITE", *frontend::invite::to_text(invite));
  auto got = frontend::select_user(state, std::nullopt);
  ASSERT_TRUE(got) << got.error().message();
  EXPECT_EQ(got->user.user_id, invited);
}

TEST_F(SelectUser, RootIsRequiredBeforeTheKeychainIsAsked) {
  validate::VaultState state = sample_state();
  state.root_key_id.reset();
  testing::ScopedEnv no_keychain("OSTREL_KEYCHAIN_DIR", std::nullopt);
  EXPECT_EQ(frontend::select_user(state, std::nullopt).error().message(), "validated vault is missing an effective root");
  EXPECT_EQ(frontend::select_user(state, "@alice").error().message(), "validated vault is missing an effective root");
  // With a root, the same missing keychain is the keychain's error.
  EXPECT_EQ(frontend::select_user(sample_state(), std::nullopt).error().kind(), FrontendError::Keychain);
}

}  // namespace
}  // namespace ostrel::frontend
