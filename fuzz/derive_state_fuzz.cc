// The state derivation on decoded record sets. The input is two control bytes and a vault file.
// Records whose signing key belongs to one of a few fixed identities are signed again after
// decoding, so mutated bodies still carry valid signatures and the authority rules, not only
// the signature checks, see them. Properties:
// - a second derivation that skips the signatures of the first state's record hashes gives the
//   same state (the verified-hash shortcut never changes a result);
// - the ratchet advanced to the state's view survives its stored form;
// - deriving a subset of the records against that ratchet (a rolled-back file) succeeds, and
//   every query of the state answers.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "core/record_sign.h"
#include "core/records.h"
#include "core/validate/derive.h"
#include "core/validate/ratchet_state.h"
#include "core/validate/state.h"
#include "core/validate/trust.h"
#include "crypto/identity.h"
#include "store/vault_file.h"

namespace {

using namespace ostrel;

// Seeds of the identities the seed scenarios sign with.
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
  return out;
}

const std::vector<crypto::Identity>& identities() {
  static const auto* all = new std::vector<crypto::Identity>(make_identities());
  return *all;
}

// The record signed again by the fixed identity that owns its key, or as it is.
core::VaultRecordV1 resigned(const core::VaultRecordV1& record) {
  for (const auto& identity : identities()) {
    if (!std::ranges::equal(record.signing_public_key(), identity.signing_public_key)) continue;
    auto signed_again = core::sign_record(identity, record.body());
    return signed_again ? std::move(*signed_again) : record;
  }
  return record;
}

// What two derivations that must agree are compared by.
void require_same(const validate::VaultState& a, const validate::VaultState& b) {
  if (a.issues != b.issues || a.records.size() != b.records.size() || a.root_key_id != b.root_key_id ||
      a.unresolved.size() != b.unresolved.size() || a.secret_index.size() != b.secret_index.size())
    std::abort();
  for (std::size_t i = 0; i < a.records.size(); ++i)
    if (a.records[i].hash != b.records[i].hash || a.records[i].signer != b.records[i].signer) std::abort();
  if (a.next_counter() != b.next_counter()) std::abort();
}

void ask_everything(const validate::VaultState& state) {
  (void)state.next_counter();
  (void)state.next_counter_after_unresolved();
  (void)validate::has_rolled_back(state);
  for (const auto& entry : state.list_secrets()) {
    const auto& selector = entry.secret().selector;
    (void)state.readers_of(selector);
    (void)state.current_value_record(selector);
    for (const auto& identity : identities()) {
      (void)state.secret_status(selector, identity.user_id);
      (void)state.user_may_read(identity.user_id, selector);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t flags = data[0];
  const std::uint8_t drop = data[1];
  auto decoded = store::decode_vault_file(std::span<const std::uint8_t>(data + 2, size - 2));
  if (!decoded) return 0;

  std::vector<core::VaultRecordV1> records;
  records.reserve(decoded->size());
  for (const auto& record : *decoded) records.push_back((flags & 1) ? resigned(record) : record);

  const auto root = trust::select_root(records);
  auto remembered = validate::RatchetState::fresh(root ? *root : HashValue());
  auto cold = validate::derive_state_fresh(records, remembered);
  if (!cold) return 0;
  ask_everything(*cold);

  auto warm = validate::derive_state(records, remembered, cold->record_hashes());
  if (!warm) std::abort();
  require_same(*cold, *warm);

  remembered.advance(cold->ratchet);
  // The stored form keeps every counter and every binding of a counted entity. A binding of an
  // entity seen only at counter 0 lives in memory alone: no stored record carries it.
  auto stored = validate::RatchetState::from_store(remembered.to_elements());
  if (!stored || stored->counters != remembered.counters || stored->format_version != remembered.format_version ||
      stored->to_records() != remembered.to_records())
    std::abort();

  // A file that lost some records since the ratchet remembered them.
  std::vector<core::VaultRecordV1> kept;
  for (std::size_t i = 0; i < records.size(); ++i)
    if (((drop >> (i % 8)) & 1) == 0) kept.push_back(records[i]);
  auto rolled_back = validate::derive_state_fresh(kept, remembered);
  if (!rolled_back) return 0;
  ask_everything(*rolled_back);
  return 0;
}
