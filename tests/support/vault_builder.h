// Builds vault record sets from our own core code: a root, users with entry points and handles,
// groups, memberships, grants of each kind, deletions and secrets, each signed by the identity
// that would write it. Test code only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/records.h"
#include "core/validate/authority.h"
#include "crypto/identity.h"
#include "support/identities.h"

namespace ostrel::testing {

class VaultBuilder {
 public:
  explicit VaultBuilder(const crypto::Identity& root);

  const crypto::Identity& root() const { return root_; }
  validate::RootIdentity root_identity() const;

  // Signs any body (known or raw) by `author` and adds it; returns the record.
  const core::VaultRecordV1& add(const crypto::Identity& author, core::EvolvingBody body);
  // Adds an already signed record as it is (for damaged or duplicated records), naming the user
  // it is taken to be signed by.
  void add_record(core::VaultRecordV1 record, const UserId& author) {
    records_.push_back(std::move(record));
    authors_.push_back(author);
  }

  // A user record for `user`, signed by `admin`, and the user's own entry point.
  void add_member(const crypto::Identity& admin, const crypto::Identity& user, std::uint64_t counter = 1);
  const core::VaultRecordV1& add_user(const crypto::Identity& admin, const crypto::Identity& user, std::uint64_t counter);
  const core::VaultRecordV1& add_entry_point(const crypto::Identity& user, std::uint64_t counter);
  const core::VaultRecordV1& add_user_handle(const crypto::Identity& admin, const crypto::Identity& user,
                                             const std::string& handle, std::uint64_t counter);
  const core::VaultRecordV1& add_vault_handle(const crypto::Identity& admin, const std::string& handle,
                                              std::uint64_t counter);
  GroupId add_group(const crypto::Identity& admin, const std::string& handle, std::uint8_t seed, std::uint64_t counter);
  GroupMemberId add_membership(const crypto::Identity& admin, const GroupId& group, const core::PrincipalRefV1& member,
                               std::uint64_t counter);
  GrantId add_grant(const crypto::Identity& signer, const core::PrincipalRefV1& grantee,
                    const core::GrantPermissionV1& permission, std::uint8_t seed, std::uint64_t counter);
  const core::VaultRecordV1& delete_user(const crypto::Identity& admin, const UserId& user, std::uint64_t counter);
  const core::VaultRecordV1& delete_group(const crypto::Identity& admin, const GroupId& group, std::uint64_t counter);
  const core::VaultRecordV1& delete_membership(const crypto::Identity& admin, const GroupId& group,
                                               const core::PrincipalRefV1& member, std::uint64_t counter);
  const core::VaultRecordV1& delete_grant(const crypto::Identity& signer, const GrantId& grant,
                                          const core::GrantPermissionV1& permission, std::uint64_t counter);

  // A secret value record whose payload names `readers` in its slots (no real encryption: the
  // derivation never opens payloads), and a secret deletion.
  const core::VaultRecordV1& add_secret(const crypto::Identity& author, const core::SecretSelectorV1& selector,
                                        std::uint64_t counter, const std::vector<UserId>& readers = {},
                                        std::uint8_t nonce = 0);
  const core::VaultRecordV1& delete_secret(const crypto::Identity& author, const core::SecretSelectorV1& selector,
                                           std::uint64_t counter);

  const std::vector<core::VaultRecordV1>& records() const { return records_; }
  // The records in a vault file's order (ascending encoding), as a decoded set holds them.
  std::vector<core::VaultRecordV1> file_order() const;
  cord::Set<core::VaultRecordV1> record_set() const { return cord::Set<core::VaultRecordV1>(records_); }
  // The records as effective records, each signer taken as its author (every record here is
  // signed by a known identity): for exercising the authority rules without a derivation.
  std::vector<validate::EffectiveRecord> effective() const;

 private:
  crypto::Identity root_;
  std::vector<core::VaultRecordV1> records_;
  std::vector<UserId> authors_;  // parallel to records_
};

// Selector helpers.
core::KeyspaceSelectorV1 any_keyspace();
core::KeyspaceSelectorV1 prefix_keyspace(std::vector<cord::Text> segments);
core::GrantPermissionV1 read_grant(core::KeyspaceSelectorV1 k);
core::GrantPermissionV1 write_grant(core::KeyspaceSelectorV1 k);
core::GrantPermissionV1 manage_grant(core::KeyspaceSelectorV1 k, std::vector<core::KeyspaceGrantClassV1> classes);
core::GrantPermissionV1 admin_grant();

}  // namespace ostrel::testing
