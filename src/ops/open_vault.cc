#include "ops/open_vault.h"

#include <algorithm>
#include <string>
#include <utility>

#include "core/ids.h"
#include "core/validate/derive.h"
#include "core/validate/trust.h"
#include "errors/try.h"
#include "keychain/current_user.h"
#include "ops/recovery.h"
#include "store/lock_file.h"
#include "store/ratchet_file.h"

namespace ostrel::ops {

namespace {

// A vault file's bytes, the records decoded from them (which view the bytes), and what the file
// looked like when it was read.
struct VaultFile {
  std::shared_ptr<const cord::Buffer> bytes;
  store::VaultRecords records;
  platform::FileInfo read_from;
};

OpsResult<store::VaultRecords> decode(const store::WorkspacePaths& paths,
                                      const std::shared_ptr<const cord::Buffer>& bytes) {
  auto records = store::decode_vault_file(std::span<const std::uint8_t>(*bytes), bytes);
  if (!records) return std::unexpected(OpsError(store::vault_invalid(paths, std::move(records).error())));
  return std::move(*records);
}

OpsResult<VaultFile> read_vault(const store::WorkspacePaths& paths, const store::FileLocation& at) {
  OSTREL_TRY_ASSIGN(store::FileContents contents, store::read_vault_bytes(at));
  auto shared = std::make_shared<const cord::Buffer>(std::move(contents.bytes));
  OSTREL_TRY_ASSIGN(store::VaultRecords records, decode(paths, shared));
  return VaultFile{std::move(shared), std::move(records), contents.info};
}

OpsResult<store::StateLock> state_lock(const store::WorkspacePaths& paths, const HashValue& root, bool exclusive) {
  OSTREL_TRY_ASSIGN(auto lock, store::StateLock::acquire(paths, root.bytes, exclusive));
  return lock;
}

// The entry of `map` whose normalised handle is smallest; the earlier one on a tie.
template <class Map, class Keep>
auto smallest_handle(const Map& map, Keep&& keep) -> decltype(map.begin()->second.get()) {
  decltype(map.begin()->second.get()) best = nullptr;
  std::string best_handle;
  for (const auto& [id, part] : map) {
    if (!keep(*part)) continue;
    std::string handle = core::normalize_handle(part->handle.view());
    if (best == nullptr || handle < best_handle) {
      best = part.get();
      best_handle = std::move(handle);
    }
  }
  return best;
}

}  // namespace

OpsError validation_error(const validate::VaultState& state) { return OpsError::validation(state.issues); }

namespace {

// Raises the vault's ratchet in memory to its state's view; false when there is nothing to
// remember (a state with issues, or without counters).
bool raise_in_memory(OpenVault& open) {
  if (!open.state.issues.empty() || open.state.ratchet.counters.empty()) return false;
  open.ratchet.advance(open.state.ratchet);
  return true;
}

}  // namespace

OpsResult<OpenVault> OpenVault::open(const store::WorkspacePaths& paths) {
  return open(paths, keychain::current_user_or_none);
}

OpsResult<OpenVault> OpenVault::open(const store::WorkspacePaths& paths, const store::CurrentUserLookup& current_user) {
  OSTREL_TRY_ASSIGN(store::FileLocation vault_at, store::locate_vault(paths));
  OSTREL_TRY_ASSIGN(VaultFile file, read_vault(paths, vault_at));
  OSTREL_TRY_ASSIGN(HashValue root, trust::select_root(file.records.items()));
  OSTREL_TRY(recover_pending_journals(paths, vault_at, root));

  std::optional<OpenVault> out;
  std::optional<SeenFile> ratchet_read;
  {
    OSTREL_TRY_ASSIGN(store::StateLock lock, state_lock(paths, root, /*exclusive=*/false));
    // What is derived must be the file as it stands under the lock: recovery or another writer
    // may have replaced it since it was read (every writer renames a new file into place), and
    // an edit in place changes its change time. Read it again only then, after letting the first
    // reading go.
    if (const auto now = vault_at.entry(); !now || !platform::same_version(*now, file.read_from)) {
      file = {};
      OSTREL_TRY_ASSIGN(file, read_vault(paths, vault_at));
    }
    // The ratchet file read here is kept with its look, so that a first write finds it unchanged
    // and need not read it again. Its secret bindings refer to the vault's records that state
    // them rather than copying them; those records are kept with the state.
    OSTREL_TRY_ASSIGN(const store::FileLocation ratchet_at, store::locate_ratchet(paths, root));
    OSTREL_TRY_ASSIGN(std::optional<store::LoadedRatchet> remembered,
                      store::load_ratchet(ratchet_at, root, file.records.items()));
    std::optional<validate::RatchetState> remembered_state;
    if (remembered) {
      remembered_state = std::move(remembered->state);
      ratchet_read = SeenFile::of(remembered->file);
    }
    remembered.reset();
    OSTREL_TRY_ASSIGN(RatchetWithPending loaded, with_pending_journal(paths, root, std::move(remembered_state)));
    validate::VerifiedHashes verified;
    std::optional<std::vector<std::uint8_t>> cache_signer;
    // Whose cache the keychain's lookup names, to know later whether writing it would change it.
    std::optional<UserId> cache_user;
    const store::CurrentUserLookup noting_user = [&](const HashValue& r) {
      std::optional<UserId> user = current_user ? current_user(r) : std::nullopt;
      if (user) cache_user = *user;
      return user;
    };
    if (auto cache = store::load_verification_cache(paths, root, noting_user)) {
      verified = validate::VerifiedHashes(std::move(cache->record_hashes.items()));
      cache_signer = std::vector<std::uint8_t>(cache->signing_public_key.begin(), cache->signing_public_key.end());
    } else {
      cache_user.reset();
    }
    OSTREL_TRY_ASSIGN(auto state, validate::derive_state(file.records.items(), loaded.ratchet, verified));
    loaded.ratchet.share_bindings(state);
    // The cache lists exactly this state's records when it lists as many and each of them.
    const bool cache_lists_state =
        cache_signer && state.issues.empty() && state.records.size() == verified.size() &&
        std::ranges::all_of(verified.contains_each(state.records.size(),
                                                   [&](std::size_t i) -> const HashValue& { return state.records[i].hash; }),
                            [](std::uint8_t held) { return held != 0; });
    out.emplace(OpenVault{std::move(state), paths, std::move(vault_at), std::move(file.bytes),
                          std::move(loaded.ratchet), std::move(cache_signer), std::nullopt,
                          std::move(loaded.pending), std::move(file.records),
                          cache_lists_state ? std::move(cache_user) : std::nullopt,
                          /*ratchet_matches_state=*/true, file.read_from,
                          loaded.pending ? std::nullopt : std::move(ratchet_read)});
  }
  if (out->cache_signer) {
    // Whose key vouched for the unchecked signatures is known only with the session's identity:
    // until then the raise stays in memory, and the ratchet it started from is kept.
    const bool raises = out->state.issues.empty() && !out->state.ratchet.counters.empty();  // as raise_in_memory
    out->unchecked_raise = raises ? out->ratchet.advance_noting(out->state.ratchet)
                                  : validate::RatchetState::Advance{{}, {}, out->ratchet.format_version};
    return std::move(*out);
  }
  OSTREL_TRY(out->advance_ratchet());
  return std::move(*out);
}

OpsResult<void> OpenVault::advance_ratchet() {
  if (!raise_in_memory(*this)) return {};
  if (pending) return {};  // nothing is written while a transaction is outstanding

  auto lock = store::StateLock::acquire_exclusive(paths, root().bytes);
  if (!lock) {
    // Another opener or writer kept the lock to the end of the wait: open without writing.
    if (lock.error().kind() == StoreError::WorkspaceLockHeld) return {};
    return std::unexpected(OpsError(std::move(lock).error()));
  }
  OSTREL_TRY(preflight_write(paths, root()));
  OSTREL_TRY_ASSIGN(auto stored, store::load_ratchet(paths, root()));
  // What is on disk, raised by this state: counters another process remembered meanwhile stay.
  validate::RatchetState next = stored ? std::move(*stored) : validate::RatchetState::fresh(root());
  next.advance(state.ratchet);
  OSTREL_TRY(store::save_ratchet(paths, next));
  ratchet_seen.reset();  // another file now: the next write reads it
  // Unless another process remembered more meanwhile, what was written is what memory holds.
  if (!(next == ratchet)) ratchet_matches_state = false;
  ratchet = std::move(next);
  return {};
}

OpsResult<void> OpenVault::refresh_from_store() {
  OSTREL_TRY_ASSIGN(const store::FileLocation ratchet_at, store::locate_ratchet(paths, root()));
  auto unchanged = [](const std::optional<platform::FileInfo>& now, const std::optional<platform::FileInfo>& seen) {
    return now && seen && platform::same_version(*now, *seen);
  };
  if (unchanged(vault_location.entry(), vault_seen) && ratchet_seen &&
      unchanged(ratchet_at.entry(), ratchet_seen->info)) {
    // Neither file changed since the session had them; only a journal could have appeared.
    OSTREL_TRY_ASSIGN(const std::optional<store::TransactionV1> journal, store::load_transaction(paths, root()));
    if (!journal) {
      pending.reset();
      return {};
    }
  }

  OSTREL_TRY_ASSIGN(store::FileContents contents, store::read_vault_bytes(vault_location));
  OSTREL_TRY_ASSIGN(std::optional<store::LoadedRatchet> remembered, store::load_ratchet(ratchet_at, root()));
  std::optional<validate::RatchetState> remembered_state;
  std::optional<store::FileContents> ratchet_file;
  if (remembered) {
    remembered_state = std::move(remembered->state);
    ratchet_file = std::move(remembered->file);
  }
  OSTREL_TRY_ASSIGN(RatchetWithPending loaded, with_pending_journal(paths, root(), std::move(remembered_state)));
  if (contents.bytes == *vault_bytes && loaded.ratchet == ratchet) {
    pending = std::move(loaded.pending);
    vault_seen = contents.info;
    ratchet_seen = ratchet_file ? std::optional(SeenFile::of(*ratchet_file)) : std::nullopt;
    return {};
  }
  const platform::FileInfo read_from = contents.info;
  auto shared = std::make_shared<const cord::Buffer>(std::move(contents.bytes));
  OSTREL_TRY_ASSIGN(store::VaultRecords next_records, decode(paths, shared));
  OSTREL_TRY_ASSIGN(HashValue file_root, trust::select_root(next_records.items()));
  if (file_root != root()) {
    return std::unexpected(OpsError(StoreError::trust_root_mismatch(std::move(file_root), root())));
  }
  OSTREL_TRY_ASSIGN(auto next_state, validate::derive_state(next_records.items(), loaded.ratchet, state.record_hashes()));
  loaded.ratchet.share_bindings(next_state);
  records = std::move(next_records);
  vault_bytes = std::move(shared);
  ratchet = std::move(loaded.ratchet);
  state = std::move(next_state);
  pending = std::move(loaded.pending);
  ratchet_matches_state = true;
  vault_seen = read_from;
  ratchet_seen = ratchet_file ? std::optional(SeenFile::of(*ratchet_file)) : std::nullopt;
  return {};
}

OpsResult<void> OpenVault::ensure_valid() const {
  if (!state.issues.empty()) return std::unexpected(validation_error(state));
  return {};
}

OpsResult<void> OpenVault::ensure_member(const UserId& user) const {
  if (!state.issues.empty() || state.users.contains(user)) return {};
  return std::unexpected(OpsError::not_member(user));
}

OpsResult<void> save_verification_cache(OpenVault& open, const crypto::Identity& identity) {
  const std::span<const std::uint8_t> own_key = identity.signing_public_key;
  // This identity's own cache already lists exactly the state's records: writing it again would
  // write the same bytes (the signature is deterministic).
  const bool cache_current = open.cache_signer && std::ranges::equal(*open.cache_signer, own_key) &&
                             open.cache_unchanged_for == identity.user_id;
  open.cache_unchanged_for.reset();
  const bool ratchet_deferred = open.unchecked_raise.has_value();
  if (open.cache_signer && !std::ranges::equal(*open.cache_signer, own_key)) {
    // Another key vouched for the skipped signatures: check every one before trusting the state,
    // against the ratchet as it was before the unchecked records raised it.
    if (ratchet_deferred) open.ratchet.take_back(std::move(*open.unchecked_raise));
    open.unchecked_raise.reset();
    OSTREL_TRY_ASSIGN(auto checked, validate::derive_state_fresh(open.records.items(), open.ratchet));
    open.state = std::move(checked);
    open.ratchet_matches_state = true;  // derived against exactly the ratchet it now holds
    open.cache_signer.reset();
    if (!open.state.issues.empty()) return std::unexpected(validation_error(open.state));
  }
  if (ratchet_deferred) {
    // The opening's ratchet write, now that the state rests on this identity's own cache or on
    // signatures checked here.
    open.unchecked_raise.reset();
    open.cache_signer.reset();
    OSTREL_TRY(open.advance_ratchet());
  }
  if (open.state.issues.empty() && !cache_current) {
    const validate::VerifiedHashes hashes = open.state.record_hashes();
    cord::Set<HashValue> record_hashes(std::vector<HashValue>(hashes.begin(), hashes.end()));
    const HashValue& root = open.root();
    if (auto payload = store::encode_verification_payload(root, store::kVerificationCacheVersion, record_hashes)) {
      std::vector<std::uint8_t> signature = identity.sign(store::kVerificationCachePurpose, *payload);
      const store::VerificationCacheV1 cache{root, store::kVerificationCacheVersion, std::move(record_hashes),
                                             cord::Bytes(own_key.begin(), own_key.end()), std::move(signature)};
      // A cache is only a speed-up: a session is never refused because it cannot be written.
      (void)store::write_verification_cache(open.paths, identity.user_id, cache);
    }
  }
  open.cache_signer.reset();
  return {};
}

const core::VaultHandleRecordV1* vault_handle_name(const validate::VaultState& state) {
  return smallest_handle(state.vault_handles, [](const core::VaultHandleRecordV1&) { return true; });
}

const core::UserHandleRecordV1* user_handle_name(const validate::VaultState& state, const UserId& user) {
  return smallest_handle(state.user_handles, [&](const core::UserHandleRecordV1& r) { return r.user_id == user; });
}

}  // namespace ostrel::ops
