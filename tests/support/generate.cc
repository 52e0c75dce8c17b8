#include "support/generate.h"

#include <algorithm>
#include <set>
#include <string>

#include "core/ids.h"
#include "support/vault_builder.h"

namespace ostrel::testing {

GeneratedVault generate_vault(std::size_t total) {
  using namespace core;
  const crypto::Identity root = identity_of(1);
  VaultBuilder v(root);
  const std::size_t users = std::clamp<std::size_t>(total / 64, 1, 300);
  const std::size_t groups = std::max<std::size_t>(1, users / 15);
  std::vector<crypto::Identity> people;
  people.reserve(users);
  for (std::size_t i = 0; i < users && v.records().size() + 3 <= total; ++i) {
    std::array<std::uint8_t, 32> seed{};
    seed[0] = 0x5a;
    seed[1] = static_cast<std::uint8_t>(i >> 8);
    seed[2] = static_cast<std::uint8_t>(i);
    people.push_back(identity_from_seed(seed));
    v.add_member(root, people.back(), 1);
    v.add_user_handle(root, people.back(), "user-" + std::to_string(i), 1);
  }
  std::vector<GroupId> team;
  for (std::size_t g = 0; g < groups && v.records().size() + 2 <= total; ++g) {
    team.push_back(v.add_group(root, "team-" + std::to_string(g), static_cast<std::uint8_t>(g), 1));
    v.add_grant(root, PrincipalRefV1(team.back()), write_grant(prefix_keyspace({"team-" + std::to_string(g)})),
                static_cast<std::uint8_t>(100 + g), 1);
  }
  for (std::size_t i = 0; i < people.size() && !team.empty() && v.records().size() < total; ++i) {
    v.add_membership(root, team[i % team.size()], PrincipalRefV1(people[i].user_id), 1);
  }
  if (!people.empty() && v.records().size() < total) {
    v.add_grant(root, PrincipalRefV1(people[0].user_id), read_grant(any_keyspace()), 250, 1);
  }
  // The rest are secrets under each team's prefix, written by a member, readable by three users.
  std::size_t n = 0;
  while (v.records().size() < total && !people.empty() && !team.empty()) {
    const std::size_t writer = n % people.size();
    const std::size_t g = writer % team.size();
    SecretSelectorV1 sel{{"team-" + std::to_string(g), "service-" + std::to_string(n % 97), "key-" + std::to_string(n)},
                         {{"env", n % 2 ? "prod" : "dev"}}};
    const std::set<UserId> ordered = {root.user_id, people[writer].user_id, people[(writer + 1) % people.size()].user_id};
    const std::vector<UserId> readers(ordered.begin(), ordered.end());
    v.add_secret(people[writer], sel, 2 + n / 1000, readers, static_cast<std::uint8_t>(n));
    ++n;
  }
  GeneratedVault out;
  out.records = v.records();
  out.root_key_id = v.root_identity().key_id;
  return out;
}

}  // namespace ostrel::testing
