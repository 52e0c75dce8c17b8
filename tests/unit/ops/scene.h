// The operations' tests: scenarios of the fixture tool's format (identities by fill-byte seeds,
// the team vault of the fixture tests) made into states or workspaces with real files.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "core/ids.h"
#include "core/validate/derive.h"
#include "errors/try.h"
#include "ops/session.h"
#include "store/cache_file.h"
#include "support/fixture/invite_writer.h"
#include "support/fixture/journal_writer.h"
#include "support/fixture/scenario.h"
#include "support/fixture/workspace_writer.h"
#include "support/identities.h"
#include "support/scratch.h"
#include "unit/fixture/scenarios.h"
#include "unit/fixture/workspace.h"

namespace ostrel::ops::test {

using fixture::Json;
using fixture::test::seed_hex;
using fixture::test::team_with_secrets;
using fixture::test::with_identities;

using fixture::test::kApi;
using fixture::test::kDb;

// An invitation the fixture tool hands out for the scenario's vault.
inline core::Invite invite_for(const Json& scenario, fixture::InviteOptions options) {
  auto invite = fixture::scenario_invite(scenario, options);
  EXPECT_TRUE(invite) << invite.error().message;
  return invite ? std::move(*invite) : core::Invite{};
}

// A partial baseline that remembers app/db above the team vault's counter 2.
inline constexpr const char* kDbAt5 = R"({"counters": [{"entity": {"kind": "Secret",
    "selector": {"tuple": ["app", "db"], "labels": {"env": "prod"}}}, "counter": 5}]})";

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

// A workspace in a scratch folder with its own state directory, written by the fixture tool.
class OpsWorkspace {
 public:
  OpsWorkspace() : location_{dir_ / "ws", std::nullopt, dir_ / "state"} {}

  void write(const Json& scenario) {
    auto built = fixture::build_scenario(scenario);
    ASSERT_TRUE(built) << built.error().message;
    auto written = fixture::write_workspace(*built, location_);
    ASSERT_TRUE(written) << written.error().message;
  }
  // A journal, as a crash would leave it, whose after-images are `scenario`'s files.
  void leave_journal(const Json& scenario, const fixture::JournalOptions& options) {
    auto built = fixture::build_scenario(scenario);
    ASSERT_TRUE(built) << built.error().message;
    auto written = fixture::write_journal(*built, location_, options);
    ASSERT_TRUE(written) << written.error().message;
  }
  // The verification cache of `who`: every record's hash, signed by `who`.
  void write_cache(const crypto::Identity& who) {
    auto written = fixture::write_cache(location_, who, std::nullopt, 1);
    ASSERT_TRUE(written) << written.error().message;
  }
  store::WorkspacePaths paths() const { return fixture::workspace_paths(location_); }
  std::filesystem::path ratchet_file(const HashValue& root) const { return paths().ratchet_path(root.bytes); }
  const testing::ScratchDir& dir() const { return dir_; }

 private:
  testing::ScratchDir dir_;
  fixture::WorkspaceLocation location_;
};

// The root key id of the scenarios' root (fill 1).
inline HashValue scenario_root() { return *core::key_id(testing::identity_of(1).signing_public_key); }

// No keychain: no current user, so no verification cache is read.
inline const store::CurrentUserLookup kNoKeychain{};

// A lookup that names `user` the current user of every root.
inline store::CurrentUserLookup current_user_is(const UserId& user) {
  return [user](const HashValue&) -> std::optional<UserId> { return user; };
}

inline OpsResult<VaultSession> session_of(const store::WorkspacePaths& paths, std::uint8_t fill,
                                          const store::CurrentUserLookup& current_user = kNoKeychain) {
  OSTREL_TRY_ASSIGN(OpenVault open, OpenVault::open(paths, current_user));
  return VaultSession::establish(std::move(open), testing::identity_of(fill));
}

// The session, or a failed assertion naming the error.
inline VaultSession must_open(const store::WorkspacePaths& paths, std::uint8_t fill) {
  auto s = session_of(paths, fill);
  EXPECT_TRUE(s) << s.error().message();
  if (!s) std::abort();
  return std::move(*s);
}

// The bytes of a file, or none when it is missing.
inline std::optional<std::string> file_bytes(const std::filesystem::path& p) {
  if (!std::filesystem::exists(p)) return std::nullopt;
  return testing::read_file(p);
}

}  // namespace ostrel::ops::test
