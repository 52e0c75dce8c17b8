#include "core/validate/signer_chain.h"

#include <deque>
#include <unordered_map>
#include <unordered_set>

#include "core/record_check.h"
#include "core/record_sign.h"
#include "crypto/signing.h"

namespace ostrel::validate {

using namespace core;

SignatureMemo::SignatureMemo(std::span<const HashedRecord> work, const VerifiedHashes& verified)
    : work_(work),
      state_(verified.contains_each(work.size(), [work](std::size_t i) -> const HashValue& { return work[i].hash; })) {
  // Looked up all at once: a warm derivation asks about nearly every record.
  for (std::uint8_t& s : state_) s = s != 0 ? kValid : kUnknown;
}

bool SignatureMemo::valid(std::size_t i) {
  if (state_[i] == kUnknown) {
    const HashedRecord& h = work_[i];
    const bool ok = crypto::verify_signature(kRecordSignaturePurpose, h.record->signing_public_key(),
                                             h.record->signed_message(), h.record->signature());
    state_[i] = ok ? kValid : kInvalid;
  }
  return state_[i] == kValid;
}

namespace {
struct KeyHash {
  std::size_t operator()(const cord::ByteString& k) const { return platform::hash_bytes(k); }
};
}  // namespace

std::map<cord::ByteString, std::set<UserId>> signer_chain(std::span<const HashedRecord> work, const RootIdentity& root,
                                                     SignatureMemo& memo) {
  std::unordered_map<cord::ByteString, std::vector<std::size_t>, KeyHash> signed_by;
  for (std::size_t i = 0; i < work.size(); ++i) {
    const RecordBodyV1* body = work[i].record->known_body();
    const auto* user = body ? std::get_if<UserRecordV1>(body) : nullptr;
    if (user == nullptr || !check(*user)) continue;
    signed_by[work[i].record->signing_public_key()].push_back(i);
  }
  std::set<UserId> accepted{root.user_id};
  std::unordered_set<cord::ByteString, KeyHash> trusted{root.signing_public_key};
  std::map<cord::ByteString, std::set<UserId>> owners;
  std::deque<cord::ByteString> queue{root.signing_public_key};
  while (!queue.empty()) {
    const cord::ByteString key = std::move(queue.front());
    queue.pop_front();
    auto it = signed_by.find(key);
    if (it == signed_by.end()) continue;
    for (std::size_t i : it->second) {
      const auto& user = std::get<UserRecordV1>(*work[i].record->known_body());
      if (accepted.contains(user.user_id) || !memo.valid(i)) continue;
      accepted.insert(user.user_id);
      owners[user.signing_public_key].insert(user.user_id);
      if (trusted.insert(user.signing_public_key).second) queue.push_back(user.signing_public_key);
    }
  }
  return owners;
}

}  // namespace ostrel::validate
