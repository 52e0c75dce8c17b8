// A keychain folder in a scratch directory for alice (seed fill a1) under a fixed root, and a
// passphrase provider that hands out one passphrase and records what it was asked: for the
// keychain's loading tests and the operations' session identity tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "keychain/files.h"
#include "keychain/layout.h"
#include "keychain/passphrase_keychain.h"
#include "support/identities.h"
#include "support/keychain.h"
#include "support/scratch.h"
#include "support/secret_text.h"

namespace ostrel::keychain::test {

using testing::ScratchDir;

inline const std::vector<std::uint8_t> kRoot(32, 0x11);
inline const HashValue kRootId(kRoot);

inline std::vector<std::uint8_t> bytes(const UserId& id) { return {id.value.bytes.begin(), id.value.bytes.end()}; }
inline std::vector<std::uint8_t> seed_of(std::uint8_t fill) { return std::vector<std::uint8_t>(32, fill); }

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

class AliceKeychain : public ::testing::Test {
 protected:
  AliceKeychain() : alice_(testing::identity_of(0xa1)), provider_(std::make_shared<RecordingProvider>(dir_.path(), "pw")) {}

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

}  // namespace ostrel::keychain::test
