// The state a write leaves, both ways: derive_with_added_record (and its shortcut alone) against
// the whole derivation of the candidate set. The input is two control bytes and a vault file.
// The file's records are the base (signed again by the fixed identities that own their keys when
// flag bit 0 is set, as in derive_state_fuzz); one record is added to them.
//   flags (first byte):
//     bit 0     sign the file's records again
//     bits 1-2  the added record: 0 a secret value, 1 a secret deletion, 2 one of the file's own
//               records (a duplicate), 3 the agreeing body of a secret's current record
//     bits 3-4  the remembered ratchet: 0 fresh, 1 format version 1, 2 the vault's own view,
//               3 that view with one entity raised above the vault (a rollback)
//     bit 5     the next ratchet holds one entity above the view (another process remembered it)
//     bit 6     the record is inserted where a vault file would hold it, not appended
//     bit 7     the base is derived with every signature already verified
//   choice (second byte):
//     bits 0-2  the signer, one of the fixed identities
//     bits 3-4  the counter: 0 the next one, 1 the secret's top, 2 one below it, 3 from bits 5-7
//     bits 5-7  which secret of the file (or which record, for a duplicate); which entity is raised
// Property: both results agree, the error or every field of the state.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "core/ids.h"
#include "core/record_sign.h"
#include "core/records.h"
#include "core/validate/derive.h"
#include "core/validate/derive_added.h"
#include "core/validate/ratchet_state.h"
#include "core/validate/trust.h"
#include "crypto/identity.h"
#include "store/vault_file.h"
#include "support/state_diff.h"

namespace {

using namespace ostrel;

// The identities the seed scenarios sign with, and the generated vault's root and first members.
std::vector<crypto::Identity> make_identities() {
  std::vector<crypto::Identity> out;
  auto add = [&](std::array<std::uint8_t, 32> seed) {
    auto identity = crypto::Identity::from_seed(seed);
    if (!identity) std::abort();
    out.push_back(std::move(*identity));
  };
  std::array<std::uint8_t, 32> seed{};
  for (std::uint8_t start : {0x00, 0xa0}) {
    for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(start + i);
    add(seed);
  }
  for (std::uint8_t fill : {0x01, 0x0b, 0x0c, 0x0d}) {
    seed.fill(fill);
    add(seed);
  }
  for (std::uint8_t member : {0, 1}) {
    seed.fill(0);
    seed[0] = 0x5a;
    seed[2] = member;
    add(seed);
  }
  return out;
}

const std::vector<crypto::Identity>& identities() {
  static const auto* all = new std::vector<crypto::Identity>(make_identities());
  return *all;
}

core::VaultRecordV1 resigned(const core::VaultRecordV1& record) {
  for (const auto& identity : identities()) {
    if (!std::ranges::equal(record.signing_public_key(), identity.signing_public_key)) continue;
    auto signed_again = core::sign_record(identity, record.body());
    return signed_again ? std::move(*signed_again) : record;
  }
  return record;
}

bool encoding_less(const core::VaultRecordV1& a, const core::VaultRecordV1& b) {
  return cord::bytes_less(a.encoding(), b.encoding());
}

// The record to add, or none when the file gives nothing to build it from.
std::optional<core::VaultRecordV1> addition(std::uint8_t mode, std::uint8_t choice,
                                            const std::vector<core::VaultRecordV1>& records,
                                            const validate::VaultState& base) {
  const std::size_t pick = choice >> 5;
  if (mode == 2) return records[pick % records.size()];
  std::vector<const core::SecretSelectorV1*> selectors;
  for (const auto& r : records) {
    const core::RecordBodyV1* body = r.known_body();
    if (body != nullptr && body->secret_selector() != nullptr) selectors.push_back(body->secret_selector());
  }
  static const core::SecretSelectorV1 fallback{{"app", "db"}, {}};
  const core::SecretSelectorV1& selector = selectors.empty() ? fallback : *selectors[pick % selectors.size()];
  const crypto::Identity& author = identities()[(choice & 7) % identities().size()];
  auto id = core::derive_secret_id(selector);
  if (!id) return std::nullopt;
  const validate::EffectiveRecord* current = base.current_secret_record(*id);
  const std::uint64_t top = current != nullptr ? current->body().counter() : 0;
  std::uint64_t counter = 0;
  switch ((choice >> 3) & 3) {
    case 0: counter = std::max(base.next_counter(), base.next_counter_after_unresolved()); break;
    case 1: counter = top; break;
    case 2: counter = top > 0 ? top - 1 : 0; break;
    default: counter = pick; break;
  }
  if (mode == 3) {
    if (current == nullptr) return std::nullopt;
    auto r = core::sign_record(author, current->record.body());
    return r ? std::optional(std::move(*r)) : std::nullopt;
  }
  auto r = mode == 1 ? core::SecretDeletedRecordV1::create_signed(author, selector, counter)
                     : core::SecretRecordV1::create_signed(
                           author, selector, core::SealedPayloadV1{cord::Bytes(12, choice), cord::Bytes(32, 0xcc), {}},
                           counter);
  return r ? std::optional(std::move(*r)) : std::nullopt;
}

// Raises one entity of the view above what the vault holds; the n-th one, cycling.
void raise_one(validate::RatchetState& ratchet, const validate::VaultState& state, std::size_t n) {
  if (state.records.empty()) return;
  const core::EntityKey& key = state.records[n % state.records.size()].key;
  if (std::holds_alternative<core::entity::VaultRoot>(key)) return;
  auto [it, added] = ratchet.counters.try_emplace(key, 0);
  it->second = std::max<std::uint64_t>(it->second, state.max_counter.value_or(0) + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t flags = data[0];
  const std::uint8_t choice = data[1];
  auto decoded = store::decode_vault_file(std::span<const std::uint8_t>(data + 2, size - 2));
  if (!decoded || decoded->size() == 0) return 0;

  std::vector<core::VaultRecordV1> records;
  records.reserve(decoded->size());
  for (const auto& record : *decoded) records.push_back((flags & 1) ? resigned(record) : record);
  // Signed again, two records may now be one; a set holds each once, in encoding order.
  std::sort(records.begin(), records.end(), encoding_less);
  records.erase(std::unique(records.begin(), records.end(),
                            [](const core::VaultRecordV1& a, const core::VaultRecordV1& b) { return !encoding_less(a, b); }),
                records.end());

  const auto root = trust::select_root(records);
  const auto fresh = validate::RatchetState::fresh(root ? *root : HashValue());
  auto opened = validate::derive_state_fresh(records, fresh);
  if (!opened) return 0;

  validate::RatchetState remembered = fresh;
  switch ((flags >> 3) & 3) {
    case 1: remembered.format_version = 1; break;
    case 2: remembered.advance(opened->ratchet); break;
    case 3:
      remembered.advance(opened->ratchet);
      raise_one(remembered, *opened, choice >> 5);
      break;
    default: break;
  }
  static const validate::VerifiedHashes kNone;
  const validate::VerifiedHashes all = (flags & 0x80) ? opened->record_hashes() : kNone;
  auto base = validate::derive_state(records, remembered, all);
  if (!base) std::abort();  // the same records derived once already

  const auto record = addition((flags >> 1) & 3, choice, records, *base);
  if (!record) return 0;
  validate::RatchetState next = remembered;
  next.advance(base->ratchet);
  if (flags & 0x20) raise_one(next, *base, choice);

  std::vector<core::VaultRecordV1> candidate = records;
  const std::size_t at = (flags & 0x40)
                             ? static_cast<std::size_t>(std::lower_bound(candidate.begin(), candidate.end(), *record,
                                                                         encoding_less) -
                                                        candidate.begin())
                             : candidate.size();
  candidate.insert(candidate.begin() + static_cast<std::ptrdiff_t>(at), *record);

  auto full = validate::derive_state(candidate, next, base->record_hashes());
  auto added = validate::derive_with_added_record(*base, remembered, candidate, at, next);
  if (full.has_value() != added.has_value()) std::abort();
  if (!full) return 0;
  if (const std::string d = testing::first_difference(*added, *full); !d.empty()) {
    std::fprintf(stderr, "derive_with_added_record differs from derive_state: %s\n", d.c_str());
    std::abort();
  }
  if (auto shortcut = validate::derive_by_addition(*base, remembered, candidate, at, next)) {
    if (const std::string d = testing::first_difference(*shortcut, *full); !d.empty()) {
      std::fprintf(stderr, "derive_by_addition differs from derive_state: %s\n", d.c_str());
      std::abort();
    }
  }
  return 0;
}
