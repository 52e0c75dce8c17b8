// A workspace in a scratch folder for the journal tests: a small vault of one root and its
// remembered ratchet on disk (the old state), and the files a write would replace them with (the
// new state), all of the same root.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/ids.h"
#include "core/validate/ratchet_state.h"
#include "crypto/identity.h"
#include "ops/commit.h"
#include "store/lock_file.h"
#include "store/ratchet_file.h"
#include "store/transaction_file.h"
#include "store/vault_file.h"
#include "support/identities.h"
#include "support/scratch.h"
#include "support/vault_builder.h"

namespace ostrel::ops::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes to_bytes(std::span<const std::uint8_t> b) { return Bytes(b.begin(), b.end()); }

// The vault file of `builder`'s records.
inline Bytes vault_file_of(const testing::VaultBuilder& builder) {
  auto bytes = store::encode_vault_file(builder.record_set());
  if (!bytes) std::abort();
  return to_bytes(*bytes);
}

inline Bytes ratchet_file_of(const validate::RatchetState& state) {
  auto bytes = store::encode_ratchet_file(state);
  if (!bytes) std::abort();
  return to_bytes(*bytes);
}

inline HashValue key_id_of(const crypto::Identity& who) {
  auto id = core::key_id(who.signing_public_key);
  if (!id) std::abort();
  return *id;
}

// A record of a kind this version does not know, carrying `size` filler bytes: a vault grows by
// its size without thousands of records.
inline core::VaultRecordV1 bulky_record(const crypto::Identity& author, std::size_t size, std::uint8_t fill) {
  Bytes payload = {0, 0, 0, 99};
  payload.resize(4 + size, fill);
  return testing::signed_record(author, core::EvolvingBody::raw(cord::ByteString(payload)));
}

// The id of JournalWorkspace::journal() (32 bytes of 0x5a) in lower-case hex.
inline std::string journal_id_hex() {
  std::string out;
  for (int i = 0; i < 32; ++i) out += "5a";
  return out;
}

struct JournalWorkspace {
  testing::ScratchDir dir;
  testing::ScopedEnv state_dir{"OSTREL_STATE_DIR", (dir / "state").string()};
  store::WorkspacePaths paths = store::WorkspacePaths::for_vault_file(dir / ".ostrel" / "vault.cord");
  crypto::Identity root = testing::identity_of(1);
  crypto::Identity alice = testing::identity_of(2);
  HashValue root_id = key_id_of(root);

  Bytes old_vault;
  Bytes new_vault;
  Bytes old_ratchet;
  Bytes new_ratchet;

  // `extra_bytes`: the size of a bulky record the new vault carries besides alice.
  explicit JournalWorkspace(std::size_t extra_bytes = 0) {
    testing::VaultBuilder builder(root);
    old_vault = vault_file_of(builder);
    builder.add_member(root, alice);
    for (std::size_t left = extra_bytes, n = 0; left > 0; ++n) {
      // One record holds at most what a single length may: 15 MiB each.
      const std::size_t size = std::min<std::size_t>(left, 15u << 20);
      builder.add_record(bulky_record(root, size, static_cast<std::uint8_t>(n)), root.user_id);
      left -= size;
    }
    new_vault = vault_file_of(builder);

    validate::RatchetState ratchet = validate::RatchetState::fresh(root_id);
    ratchet.format_version = 1;
    old_ratchet = ratchet_file_of(ratchet);
    ratchet.apply_record(core::UserRatchetRecordV1{alice.user_id, 1});
    new_ratchet = ratchet_file_of(ratchet);

    write_state(old_vault, old_ratchet);
  }

  std::filesystem::path ratchet_path() const { return paths.ratchet_path(root_id.bytes); }
  std::filesystem::path journal_path() const { return paths.transaction_path(root_id.bytes); }
  std::filesystem::path join_commit_path() const { return paths.join_commit_path(root_id.bytes); }

  // Puts the files in place as they are, bypassing every check.
  void write_state(const Bytes& vault, const Bytes& ratchet) const {
    std::filesystem::create_directories(paths.vault_dir);
    std::filesystem::create_directories(ratchet_path().parent_path());
    testing::write_file(paths.vault_file, std::string(vault.begin(), vault.end()));
    testing::write_file(ratchet_path(), std::string(ratchet.begin(), ratchet.end()));
  }

  Bytes vault_now() const { return testing::bytes(testing::read_file(paths.vault_file)); }
  Bytes ratchet_now() const { return testing::bytes(testing::read_file(ratchet_path())); }
  bool journal_exists() const { return std::filesystem::exists(journal_path()); }

  // The vault file's location as a session resolves it; its folder is created when missing.
  store::FileLocation vault_location() const {
    auto at = store::locate_for_write(paths.vault_file, store::FileAccess::Workspace);
    if (!at) std::abort();
    return std::move(*at);
  }

  // The journal a commit of the new state over the old one writes.
  store::TransactionV1 journal(std::string_view label = store::kVaultMutationLabel) const {
    auto vault_path = store::NativePathV1::from_path(paths.vault_file);
    if (!vault_path) std::abort();
    return store::TransactionV1{
        .id = Bytes(32, 0x5a),
        .trusted_root = root_id,
        .vault_path = *vault_path,
        .operation_label = std::string(label),
        .vault_before = store::FilePreconditionV1::Digest{store::transaction_file_digest(old_vault)},
        .ratchet_before = store::FilePreconditionV1::Digest{store::transaction_file_digest(old_ratchet)},
        .next_vault_bytes = new_vault,
        .next_ratchet_bytes = new_ratchet,
    };
  }

  // Commits the new state under both locks, as a write does.
  OpsResult<void> commit() const { return commit(new_vault, new_ratchet); }
  OpsResult<void> commit(Bytes next_vault, Bytes next_ratchet) const {
    auto state_lock = store::StateLock::acquire_exclusive(paths, root_id.bytes);
    if (!state_lock) return std::unexpected(state_lock.error());
    auto workspace_lock = store::WorkspaceLock::acquire(paths);
    if (!workspace_lock) return std::unexpected(workspace_lock.error());
    return commit_vault_write(paths, vault_location(), root_id, store::kVaultMutationLabel, vault_now(), ratchet_now(),
                              std::move(next_vault), std::move(next_ratchet));
  }
};

}  // namespace ostrel::ops::test
