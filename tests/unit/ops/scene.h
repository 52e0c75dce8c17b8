// The operations' tests: scenarios of the fixture tool's format (identities by fill-byte seeds,
// the team vault of the fixture tests) made into states or workspaces with real files.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "core/validate/derive.h"
#include "support/fixture/scenario.h"
#include "unit/fixture/scenarios.h"
#include "unit/fixture/workspace.h"

namespace ostrel::ops::test {

using fixture::Json;
using fixture::test::seed_hex;
using fixture::test::team_with_secrets;
using fixture::test::with_identities;

inline const core::SecretSelectorV1 kDb{{"app", "db"}, {{"env", "prod"}}};
inline const core::SecretSelectorV1 kApi{{"app", "api"}, {}};

// The state a scenario's records give against its own ratchet (a fresh one when it has none).
inline validate::VaultState derive_scenario(const Json& scenario) {
  auto built = fixture::build_scenario(scenario);
  EXPECT_TRUE(built) << built.error().message;
  if (!built) return {};
  const validate::RatchetState ratchet =
      built->ratchet ? *built->ratchet : validate::RatchetState::fresh(built->root_key_id);
  auto state = validate::derive_state_fresh(built->records, ratchet);
  EXPECT_TRUE(state) << state.error().message();
  return state ? std::move(*state) : validate::VaultState{};
}

}  // namespace ostrel::ops::test
