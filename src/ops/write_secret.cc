#include "ops/write_secret.h"

#include <algorithm>
#include <utility>

#include "core/ids.h"
#include "core/record_sign.h"
#include "core/validate/derive.h"
#include "core/validate/derive_added.h"
#include "core/validate/seal_readers.h"
#include "errors/try.h"
#include "ops/commit.h"
#include "ops/read_secret.h"
#include "ops/write_secret_internal.h"
#include "store/lock_file.h"
#include "store/ratchet_file.h"
#include "store/transaction_file.h"

namespace ostrel::ops {

OpsResult<void> check_writable(const validate::VaultState& state, const core::SecretSelectorV1& selector,
                               const crypto::Identity& identity) {
  if (!state.users.contains(identity.user_id)) return std::unexpected(OpsError::writer_missing(identity.user_id));
  if (state.invalid || !state.permissions_of(identity.user_id).can_write(selector)) {
    return std::unexpected(OpsError(OpsError::NotWritable));
  }
  return {};
}

OpsResult<std::uint64_t> next_record_counter(const validate::VaultState& state) {
  const std::uint64_t counter =
      std::max({state.next_counter(), state.next_counter_after_unresolved(), std::uint64_t{1}});
  if (counter > kMaxRecordCounter) return std::unexpected(OpsError(OpsError::CounterExhausted));
  return counter;
}

namespace {

// Steps shared by both record kinds once the signed record exists: its hash, and its place in
// the candidate set.
OpsResult<CandidateRecord> add_candidate(core::VaultRecordV1 record, const SecretId& secret_id,
                                         const core::SecretSelectorV1& selector,
                                         std::optional<core::SealedPayloadV1> payload,
                                         store::VaultRecords& candidate) {
  if (record.encoding().empty()) {
    // Only a record too long for the encoding has none; encoding it again names the fault.
    auto encoded = cord::to_vec(record);
    return std::unexpected(OpsError(CoreError(encoded ? cord::Error(cord::Error::Overflow) : encoded.error())));
  }
  CandidateRecord out{secret_id, selector, std::move(payload), core::record_hash(record)};
  // Appended as it is: the write places it in the file's order, which also finds a record that
  // is there already, without indexing the whole set for one insertion.
  candidate.items().push_back(std::move(record));
  return out;
}

}  // namespace

OpsResult<CandidateRecord> build_secret_value_record(const crypto::Identity& identity, const SecretId& secret_id,
                                                     const core::SecretSelectorV1& selector,
                                                     const core::SecretValueV1& value, store::VaultRecords& candidate,
                                                     const validate::VaultState& state) {
  OSTREL_TRY_ASSIGN(const std::uint64_t counter, next_record_counter(state));
  const core::SecretWriteContext context{core::EntityKey(core::entity::Secret{secret_id}),
                                         cord::ByteString(identity.signing_public_key), secret_id, selector,
                                         counter};
  OSTREL_TRY_ASSIGN(core::SealedPayloadV1 payload, validate::seal_for_state(state, context, value));
  OSTREL_TRY_ASSIGN(auto record, core::SecretRecordV1::create_signed(identity, selector, payload, counter));
  return add_candidate(std::move(record), secret_id, selector, std::move(payload), candidate);
}

OpsResult<CandidateRecord> build_secret_deletion_record(const crypto::Identity& identity, const SecretId& secret_id,
                                                        const core::SecretSelectorV1& selector,
                                                        store::VaultRecords& candidate,
                                                        const validate::VaultState& state) {
  OSTREL_TRY_ASSIGN(const std::uint64_t counter, next_record_counter(state));
  OSTREL_TRY_ASSIGN(auto record, core::SecretDeletedRecordV1::create_signed(identity, selector, counter));
  return add_candidate(std::move(record), secret_id, selector, std::nullopt, candidate);
}

namespace {

// What a write puts in the vault, decided on the refreshed state inside the locks.
struct Deletion {};
struct FieldChange {
  std::string key;                              // as stored (NFC)
  std::optional<platform::SecretBytes> value;  // absent: remove the field
};
using Change = std::variant<core::SecretValueV1, Deletion, FieldChange>;

// The value a field change makes of the secret as the refreshed state holds it; none when a
// removal finds no such field.
OpsResult<std::optional<core::SecretValueV1>> changed_value(const validate::VaultState& state,
                                                            const crypto::Identity& identity,
                                                            const core::SecretSelectorV1& selector,
                                                            FieldChange& change) {
  OSTREL_TRY_ASSIGN(const core::SecretRead read, read_secret(state, identity, selector));
  if (!change.value && read.field(change.key) == nullptr) return std::nullopt;
  core::SecretValueV1 value = read.without_field(change.key);
  if (change.value) value.add_field(change.key, std::move(*change.value));
  return value;
}

// A ratchet raised in place for a write: the raises are taken back when the write ends without
// keep().
class RaisedRatchet {
 public:
  explicit RaisedRatchet(validate::RatchetState& ratchet) : ratchet_(ratchet) {}
  RaisedRatchet(const RaisedRatchet&) = delete;
  RaisedRatchet& operator=(const RaisedRatchet&) = delete;
  ~RaisedRatchet() {
    for (auto it = raises_.rbegin(); it != raises_.rend(); ++it) ratchet_.take_back(std::move(*it));
  }
  void raise(const validate::RatchetView& view) { raises_.push_back(ratchet_.advance_noting(view)); }
  void keep() { raises_.clear(); }
  const validate::RatchetState& operator*() const { return ratchet_; }

 private:
  validate::RatchetState& ratchet_;
  std::vector<validate::RatchetState::Advance> raises_;
};

// The write path shared by every change: locks, preflight, refresh, record, proof that it takes
// effect, commit, adoption. None when a field removal found no such field (nothing written).
OpsResult<std::optional<WrittenSecret>> commit_change(VaultSession& session, core::SecretSelectorV1 selector,
                                                      Change change) {
  OpenVault& open = session.open;
  const crypto::Identity& identity = session.identity;
  OSTREL_TRY(core::check_author(identity));
  OSTREL_TRY_ASSIGN(auto secret_id, core::derive_secret_id(selector));

  // Held from here to the end; released in reverse order (the workspace lock first).
  const HashValue root = open.root();
  OSTREL_TRY_ASSIGN(store::StateLock state_lock, store::StateLock::acquire_exclusive(open.paths, root.bytes));
  OSTREL_TRY_ASSIGN(store::WorkspaceLock workspace_lock, store::WorkspaceLock::acquire(open.paths));

  OSTREL_TRY(preflight_write(open.paths, root));
  OSTREL_TRY(open.refresh_from_store());
  const validate::VaultState& state = open.state;
  if (!state.issues.empty()) return std::unexpected(validation_error(state));
  // A field edit is decided here, on the files as they are now: another process may have
  // created, changed or deleted the secret, or changed the editor's rights, since the session
  // opened. The read's refusals and an absent key come before the write check, as for a read
  // followed by a write.
  if (auto* field = std::get_if<FieldChange>(&change)) {
    OSTREL_TRY_ASSIGN(std::optional<core::SecretValueV1> changed, changed_value(state, identity, selector, *field));
    if (!changed) return std::nullopt;
    OSTREL_TRY(check_writable(state, selector, identity));
    change = std::move(*changed);
  }

  // Without a journal (refused above) the refresh found the ratchet file, or failed.
  if (!open.ratchet_seen) return std::unexpected(OpsError::missing_ratchet_state(open.paths.ratchet_path(root.bytes)));
  // The next ratchet is the session's, raised in place; a write that fails takes the raises back,
  // so the session keeps the ratchet it refreshed.
  RaisedRatchet next_ratchet(open.ratchet);
  const bool matched = open.ratchet_matches_state;
  next_ratchet.raise(state.ratchet);
  store::VaultRecords candidate(open.records.items());

  const bool deletion = std::holds_alternative<Deletion>(change);
  OSTREL_TRY_ASSIGN(CandidateRecord built,
                    deletion ? build_secret_deletion_record(identity, secret_id, selector, candidate, state)
                             : build_secret_value_record(identity, secret_id, selector,
                                                         std::get<core::SecretValueV1>(change), candidate, state));

  const std::size_t added = store::move_last_into_file_order(candidate);
  // The new state is the refreshed one with the record added; only a record or a state the
  // addition cannot account for exactly makes it derive the whole candidate set. When the
  // session's ratchet is its state's, raised by the state's own view, the raised ratchet stands
  // for the one the state was derived against as well: both give the state's view.
  OSTREL_TRY_ASSIGN(validate::VaultState next_state,
                    matched ? validate::derive_with_added_record(state, *next_ratchet, candidate.items(), added,
                                                                 *next_ratchet)
                            : validate::derive_state(candidate.items(), *next_ratchet, state.record_hashes()));
  if (!next_state.issues.empty()) return std::unexpected(validation_error(next_state));
  // The refreshed vault must take the record as the secret's current one: a writer whose right
  // was withdrawn meanwhile passes check_writable on its older state but fails here, and no
  // record the derivation would not take is committed whatever checked it before.
  if (!next_state.is_current_secret_record(built.record_hash)) {
    return std::unexpected(OpsError::not_effective(deletion ? OpsError::kSecretDeletionNotEffective
                                                            : OpsError::kSecretValueNotEffective));
  }
  next_ratchet.raise(next_state.ratchet);

  OSTREL_TRY_ASSIGN(cord::Buffer vault_after, store::encode_vault_file(candidate));
  // The after-image becomes the session's bytes: the candidate's records, and so every record the
  // session holds, are found in it and left viewing it. Until the write succeeds the session's
  // files count as unknown, so a refresh after a failed write reads them.
  auto kept_vault = std::make_shared<const cord::Buffer>(std::move(vault_after));
  std::shared_ptr<const cord::Buffer> read_before = std::exchange(open.vault_bytes, kept_vault);
  HeldFile held_vault = HeldFile::by_digest(store::transaction_file_digest(*read_before),
                                            std::exchange(open.vault_seen, std::nullopt));
  OSTREL_TRY_ASSIGN(const AdoptedAfterImage adopted, adopt_after_image(open.paths, root, kept_vault, candidate));
  // Nothing views the file read before any more: it goes before the ratchet's after-image and its
  // encoder's scratch space are made, so that two vault files and those never stand together.
  read_before.reset();
  OSTREL_TRY_ASSIGN(cord::Buffer ratchet_after, store::encode_ratchet_file(*next_ratchet));
  OSTREL_TRY(commit_vault_write(open.paths, open.vault_location, root, store::kVaultMutationLabel, held_vault,
                                HeldFile::by_digest(open.ratchet_seen->digest, open.ratchet_seen->info), *kept_vault,
                                ratchet_after, &adopted));

  next_ratchet.keep();
  open.records = std::move(candidate);
  open.state = std::move(next_state);
  open.pending.reset();
  open.ratchet_matches_state = true;
  // What the files look like now that this process wrote them; a refresh that finds them so
  // reads neither.
  open.vault_seen = open.vault_location.entry();
  open.ratchet_seen.reset();
  if (auto ratchet_at = store::locate_ratchet(open.paths, root)) {
    if (auto now = ratchet_at->entry()) {
      open.ratchet_seen = SeenFile{*now, store::transaction_file_digest(ratchet_after)};
    }
  }
  return WrittenSecret{std::move(built.secret_id), std::move(built.selector), std::move(built.payload)};
}

OpsResult<WrittenSecret> written(OpsResult<std::optional<WrittenSecret>> r) {
  OSTREL_TRY_ASSIGN(std::optional<WrittenSecret> done, std::move(r));
  return std::move(*done);  // only a field removal ends without a record
}

OpsResult<FieldEdit> field_edit(OpsResult<std::optional<WrittenSecret>> r) {
  OSTREL_TRY_ASSIGN(const std::optional<WrittenSecret> done, std::move(r));
  return done ? FieldEdit::Written : FieldEdit::NoSuchField;
}

}  // namespace

OpsResult<WrittenSecret> set_secret(VaultSession& session, core::SecretSelectorV1 selector,
                                    std::span<const std::uint8_t> value) {
  return write_secret_value(session, std::move(selector), core::SecretValueV1{platform::SecretBytes::copy_of(value), {}});
}

OpsResult<WrittenSecret> write_secret_value(VaultSession& session, core::SecretSelectorV1 selector,
                                            core::SecretValueV1 value) {
  OSTREL_TRY(check_writable(session.state(), selector, session.identity));
  return written(commit_change(session, std::move(selector), std::move(value)));
}

OpsResult<WrittenSecret> delete_secret(VaultSession& session, core::SecretSelectorV1 selector) {
  OSTREL_TRY(check_writable(session.state(), selector, session.identity));
  return written(commit_change(session, std::move(selector), Deletion{}));
}

OpsResult<FieldEdit> set_secret_field(VaultSession& session, core::SecretSelectorV1 selector, std::string_view key,
                                      std::span<const std::uint8_t> value) {
  return field_edit(
      commit_change(session, std::move(selector), FieldChange{caller_field_key(key), platform::SecretBytes::copy_of(value)}));
}

OpsResult<FieldEdit> delete_secret_field(VaultSession& session, core::SecretSelectorV1 selector, std::string_view key) {
  return field_edit(commit_change(session, std::move(selector), FieldChange{caller_field_key(key), std::nullopt}));
}

}  // namespace ostrel::ops
