// Loading a user's identity through the keychain (the layouts it migrates on the way, when the
// passphrase is asked for and when not) and the keychain's share of establishing a session.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ids.h"
#include "keychain/files.h"
#include "keychain/layout.h"
#include "keychain/session.h"
#include "support/identities.h"
#include "support/keychain.h"
#include "support/secret_text.h"
#include "unit/store/scratch.h"

namespace ostrel::keychain {
namespace {

using testing::ScratchDir;

const std::vector<std::uint8_t> kRoot(32, 0x11);
const HashValue kRootId(kRoot);

std::vector<std::uint8_t> bytes(const UserId& id) { return {id.value.bytes.begin(), id.value.bytes.end()}; }
std::vector<std::uint8_t> seed_of(std::uint8_t fill) { return std::vector<std::uint8_t>(32, fill); }

// Hands out one passphrase and remembers what it was asked, and whether the root's lock was
// free at that moment.
class RecordingProvider final : public PassphraseProvider {
 public:
  RecordingProvider(std::filesystem::path base, std::string passphrase)
      : base_(std::move(base)), passphrase_(std::move(passphrase)) {}
  KeychainResult<platform::SecretBytes> passphrase(const UnlockRequest& request) const override {
    ++calls;
    prompt = console_prompt(request);
    lock_free = acquire_lock(root_lock_path(base_, request.root_id), std::chrono::milliseconds(0)).has_value();
    return testing::secret_of(passphrase_);
  }
  mutable int calls = 0;
  mutable std::string prompt;
  mutable bool lock_free = false;

 private:
  std::filesystem::path base_;
  std::string passphrase_;
};

class LoadIdentity : public ::testing::Test {
 protected:
  LoadIdentity() : alice_(testing::identity_of(0xa1)), provider_(std::make_shared<RecordingProvider>(dir_.path(), "pw")) {}

  PassphraseKeychain keychain() const { return {dir_.path(), provider_}; }
  UnlockRequest request() const {
    store::WorkspacePaths paths(dir_ / "ws", dir_ / "ws" / ".ostrel");
    return UnlockRequest::make(paths, kRootId, alice_.user_id, UnlockPurpose{UnlockPurpose::VerifyVault{}});
  }
  SealedIdentityV1 sealed_alice(std::string_view passphrase = "pw") const {
    return testing::seal_identity(seed_of(0xa1), kRoot, bytes(alice_.user_id), passphrase, testing::cheap_kdf());
  }
  std::filesystem::path alice_file() const { return identity_path(dir_.path(), kRootId, alice_.user_id); }

  ScratchDir dir_;
  crypto::Identity alice_;
  std::shared_ptr<RecordingProvider> provider_;
};

TEST_F(LoadIdentity, UnlocksTheSplitLayoutWithTheLockReleased) {
  testing::plant_file(alice_file(), testing::identity_file(sealed_alice()));
  auto got = keychain().load_identity(request());
  ASSERT_TRUE(got) << got.error().message();
  EXPECT_EQ(got->user_id, alice_.user_id);
  EXPECT_EQ(provider_->calls, 1);
  EXPECT_TRUE(provider_->lock_free);
}

TEST_F(LoadIdentity, WrongPassphraseLeavesTheFileAsItWas) {
  testing::plant_file(alice_file(), testing::identity_file(sealed_alice("other")));
  const std::string before = testing::read_file(alice_file());
  auto got = keychain().load_identity(request());
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().message(), "identity keychain unlock failed");
  EXPECT_EQ(testing::read_file(alice_file()), before);
}

TEST_F(LoadIdentity, MissingIdentityIsNeverPrompted) {
  auto got = keychain().load_identity(request());
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind(), KeychainError::NoSafeKeychain);
  EXPECT_EQ(got.error().user_id(), alice_.user_id);
  EXPECT_EQ(provider_->calls, 0);
}

TEST_F(LoadIdentity, MigratesOlderLayoutsOnTheWay) {
  struct Case {
    const char* name;
    bool combined;
  };
  for (const Case& c : {Case{"combined keychain of the root", true}, Case{"legacy keychain of the user", false}}) {
    SCOPED_TRACE(c.name);
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) std::filesystem::remove_all(e.path());
    KeychainRecords records;
    records.insert(testing::identity_record(sealed_alice()));
    const auto older = c.combined ? combined_keychain_path(dir_.path(), kRootId)
                                  : legacy_keychain_path(dir_.path(), alice_.user_id);
    testing::plant_file(older, testing::keychain_file(records));
    auto got = keychain().load_identity(request());
    ASSERT_TRUE(got) << got.error().message();
    EXPECT_EQ(got->user_id, alice_.user_id);
    EXPECT_TRUE(std::filesystem::exists(alice_file()));
    EXPECT_FALSE(std::filesystem::exists(older));
  }
}

TEST_F(LoadIdentity, LegacyFileOfOtherRootsEndsWithNoIdentity) {
  KeychainRecords records;
  records.insert(testing::identity_record(
      testing::seal_identity(seed_of(0xa1), std::vector<std::uint8_t>(32, 9), bytes(alice_.user_id), "pw",
                             testing::cheap_kdf())));
  const auto legacy = legacy_keychain_path(dir_.path(), alice_.user_id);
  testing::plant_file(legacy, testing::keychain_file(records));
  const std::string before = testing::read_file(legacy);
  auto got = keychain().load_identity(request());
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind(), KeychainError::NoSafeKeychain);
  EXPECT_EQ(testing::read_file(legacy), before);
}

// A state with an effective root, alice and bob in effect, handles for the prompt.
validate::VaultState state_with(const std::vector<const crypto::Identity*>& users) {
  validate::VaultState state;
  state.root_key_id = HashValue(kRoot);
  for (const crypto::Identity* u : users) state.users.emplace(u->user_id, core::RecordPart<core::UserRecordV1>());
  const auto add_handle = [&](const crypto::Identity& u, const char* h) {
    const UserHandleId id = *core::derive_user_handle_id(h);
    state.user_handles.emplace(id, core::RecordPart<core::UserHandleRecordV1>::made({id, cord::Text(h), u.user_id, 1}));
  };
  add_handle(*users.front(), "Zed");
  add_handle(*users.front(), "Alice");
  const VaultHandleId vault = *core::derive_vault_handle_id("acme");
  state.vault_handles.emplace(vault, core::RecordPart<core::VaultHandleRecordV1>::made({vault, cord::Text(" Acme"), 1}));
  return state;
}

TEST_F(LoadIdentity, SessionIdentityNamesVaultAndUserInThePrompt) {
  testing::plant_file(alice_file(), testing::identity_file(sealed_alice()));
  const validate::VaultState state = state_with({&alice_});
  store::WorkspacePaths paths(dir_ / "ws", dir_ / "ws" / ".ostrel");
  auto got = unlock_session_identity(state, paths, keychain(), alice_.user_id,
                                     UnlockPurpose{UnlockPurpose::Custom{"use it"}});
  ASSERT_TRUE(got) << got.error().message();
  EXPECT_EQ(got->user_id, alice_.user_id);
  EXPECT_EQ(provider_->prompt, "Unlock Ostrel keychain for user \"alice\" in project \"acme\" to use it: ");
}

TEST_F(LoadIdentity, SessionIdentityOfAnotherUserIsRefused) {
  // The file of alice holds bob's seed, sealed for alice's name.
  const crypto::Identity bob = testing::identity_of(0xb0);
  testing::plant_file(alice_file(), testing::identity_file(testing::seal_identity(
                                        seed_of(0xb0), kRoot, bytes(alice_.user_id), "pw", testing::cheap_kdf())));
  store::WorkspacePaths paths(dir_ / "ws", dir_ / "ws" / ".ostrel");
  auto got = unlock_session_identity(state_with({&alice_}), paths, keychain(), alice_.user_id,
                                     UnlockPurpose{UnlockPurpose::VerifyVault{}});
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind(), OpsError::KeychainIdentityMismatch);
  EXPECT_EQ(got.error().message(), "keychain returned identity " + bob.user_id.debug() + ", expected " +
                                       alice_.user_id.debug());
}

TEST_F(LoadIdentity, SessionIdentityNeedsAnEffectiveRootAndCarriesKeychainErrors) {
  store::WorkspacePaths paths(dir_ / "ws", dir_ / "ws" / ".ostrel");
  validate::VaultState rootless = state_with({&alice_});
  rootless.root_key_id.reset();
  auto no_root = unlock_session_identity(rootless, paths, keychain(), alice_.user_id, {UnlockPurpose::VerifyVault{}});
  ASSERT_FALSE(no_root);
  EXPECT_EQ(no_root.error().message(), "validated vault is missing an effective root");
  auto missing = unlock_session_identity(state_with({&alice_}), paths, keychain(), alice_.user_id,
                                         {UnlockPurpose::VerifyVault{}});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind(), OpsError::Keychain);
  EXPECT_EQ(missing.error().message(), "no safe identity keychain is available for " + alice_.user_id.debug());
}

}  // namespace
}  // namespace ostrel::keychain
