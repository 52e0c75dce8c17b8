// The signer chain's work queue against the plain definition: repeat whole walks over the user
// records, in file order, until a walk accepts nothing.
#include <gtest/gtest.h>

#include <random>

#include "core/ids.h"
#include "core/record_check.h"
#include "core/validate/signer_chain.h"
#include "support/vault_builder.h"

namespace ostrel::validate {
namespace {

using namespace core;

std::map<cord::ByteString, std::set<UserId>> repeated_walks(std::span<const HashedRecord> work, const RootIdentity& root,
                                                       SignatureMemo& memo) {
  std::set<UserId> accepted{root.user_id};
  std::set<cord::ByteString> trusted{root.signing_public_key};
  std::map<cord::ByteString, std::set<UserId>> owners;
  for (bool changed = true; changed;) {
    changed = false;
    for (std::size_t i = 0; i < work.size(); ++i) {
      const RecordBodyV1* body = work[i].record->known_body();
      const auto* user = body ? std::get_if<UserRecordV1>(body) : nullptr;
      if (user == nullptr || !check(*user)) continue;
      if (accepted.contains(user->user_id) || !trusted.contains(work[i].record->signing_public_key())) continue;
      if (!memo.valid(i)) continue;
      owners[user->signing_public_key].insert(user->user_id);
      accepted.insert(user->user_id);
      trusted.insert(user->signing_public_key);
      changed = true;
    }
  }
  return owners;
}

TEST(SignerChain, SameOwnersAsRepeatedWholeWalks) {
  std::mt19937 rng(20261210);
  std::size_t accepted_total = 0, people_total = 0;
  for (int round = 0; round < 20; ++round) {
    const crypto::Identity root = testing::identity_of(1);
    testing::VaultBuilder v(root);
    std::vector<crypto::Identity> people;
    for (int i = 0; i < 12; ++i) people.push_back(testing::identity_of(static_cast<std::uint8_t>(10 + i)));
    // Each person is vouched for by one or two random signers (the root, another person, or
    // someone outside the vault), some with a damaged signature, some also sharing a key.
    const crypto::Identity outsider = testing::identity_of(99);
    for (std::size_t i = 0; i < people.size(); ++i) {
      const int vouchers = 1 + static_cast<int>(rng() % 2);
      for (int k = 0; k < vouchers; ++k) {
        const std::size_t pick = rng() % (people.size() + 2);
        const crypto::Identity& signer = pick == people.size() ? root : pick == people.size() + 1 ? outsider : people[pick];
        VaultRecordV1 r = v.add_user(signer, people[i], 1 + static_cast<std::uint64_t>(k));
        if (rng() % 5 == 0) {
          cord::Bytes sig = r.signature().to_vector();
          sig[rng() % sig.size()] ^= 0x40;
          v.add_record(VaultRecordV1(r.body(), r.signing_public_key(), sig), signer.user_id);
        }
      }
      if (rng() % 4 == 0) {
        // A second user id registered with this person's signing key.
        const cord::Bytes spk(people[i].signing_public_key.begin(), people[i].signing_public_key.end());
        const cord::Bytes hpk(32, static_cast<std::uint8_t>(i));
        v.add(root, RecordBodyV1(UserRecordV1{*core::user_id_from_public_keys(spk, hpk), spk, hpk, 1}));
      }
    }
    const auto records = v.file_order();
    std::vector<HashedRecord> work;
    for (const auto& r : records) work.push_back(HashedRecord{&r, record_hash(r)});
    const VerifiedHashes none;
    SignatureMemo queue_memo(work, none), walk_memo(work, none);
    const auto owners = signer_chain(work, v.root_identity(), queue_memo);
    EXPECT_EQ(owners, repeated_walks(work, v.root_identity(), walk_memo)) << "round " << round;
    for (const auto& [key, users] : owners) accepted_total += users.size();
    people_total += people.size();
  }
  // The random shapes accept some users and leave others out.
  EXPECT_GT(accepted_total, people_total / 4);
  EXPECT_LT(accepted_total, people_total + 40);
}

}  // namespace
}  // namespace ostrel::validate
