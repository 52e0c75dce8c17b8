// Writing a secret: every change is one new signed record (a sealed value or a deletion) built
// on the freshest state on disk, proven to become the secret's current record by deriving the
// state again, and committed through the crash-safe journal. Each operation takes the session
// for exclusive use and holds the root's state lock and then the workspace lock from the refresh
// to the commit, so no other writer can come between.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/records.h"
#include "core/secret_value.h"
#include "core/validate/state.h"
#include "crypto/identity.h"
#include "errors/ops_error.h"
#include "ops/session.h"
#include "store/vault_file.h"

namespace ostrel::ops {

// The highest Lamport counter a new record may carry.
inline constexpr std::uint64_t kMaxRecordCounter = std::uint64_t{1} << 62;

// What a write added: the secret, its selector and, for a value, the sealed payload.
struct WrittenSecret {
  SecretId secret_id;
  core::SecretSelectorV1 selector;
  std::optional<core::SealedPayloadV1> payload;
};

// How a field edit ended: written, or not written because the secret has no such field.
enum class FieldEdit : std::uint8_t { Written, NoSuchField };

// A value with no fields: setting a secret discards the fields it had.
OpsResult<WrittenSecret> set_secret(VaultSession& session, core::SecretSelectorV1 selector,
                                    std::span<const std::uint8_t> value);
OpsResult<WrittenSecret> write_secret_value(VaultSession& session, core::SecretSelectorV1 selector,
                                            core::SecretValueV1 value);
// A deletion record; written also for a secret that does not exist.
OpsResult<WrittenSecret> delete_secret(VaultSession& session, core::SecretSelectorV1 selector);

// Field edits take the write locks and decide everything on the state refreshed under them, so
// a secret, a value or a field another process committed meanwhile is seen and kept: first the
// read's refusals (a missing or unreadable secret fails as a read does; set_secret_field never
// creates a secret), then, for delete_secret_field, an absent field (NoSuchField), then the
// write check of check_writable; nothing is written on any of them. `key` goes through
// caller_field_key.
OpsResult<FieldEdit> set_secret_field(VaultSession& session, core::SecretSelectorV1 selector, std::string_view key,
                                      std::span<const std::uint8_t> value);
OpsResult<FieldEdit> delete_secret_field(VaultSession& session, core::SecretSelectorV1 selector,
                                         std::string_view key);

}  // namespace ostrel::ops
