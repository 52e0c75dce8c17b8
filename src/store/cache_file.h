// The verification cache, cache.cord in a trusted root's state folder per user: the magic
// "ostrel-cache" with its NUL, then the hashes of records whose signatures a session of that user
// has verified, signed by the user's key. Reading it never fails: any problem means no cache and
// every signature is checked. No lock guards the file; safe from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <tuple>

#include "cord/codec.h"
#include "cord/serializer.h"
#include "cord/set.h"
#include "errors/store_error.h"
#include "ids/identifiers.h"
#include "store/paths.h"

namespace ostrel::store {

// The whole file, magic included.
inline constexpr std::uint64_t kMaxVerificationCacheBytes = 33'554'432;
// The only version a cache may carry; any other is ignored.
inline constexpr std::uint64_t kVerificationCacheVersion = 1;
// The signing purpose of the cache's payload.
inline constexpr std::string_view kVerificationCachePurpose = "ostrel.verification-cache.v1";

struct VerificationCacheV1 {
  HashValue trusted_root;
  std::uint64_t version = kVerificationCacheVersion;
  cord::Set<HashValue> record_hashes;  // of records in a state validated without issues
  cord::Bytes signing_public_key;      // the key that made `signature` (32 bytes when ours)
  cord::Bytes signature;               // over encode_verification_payload of the first three fields

  static auto cord_fields(auto& s) {
    return std::tie(s.trusted_root, s.version, s.record_hashes, s.signing_public_key, s.signature);
  }
  friend bool operator==(const VerificationCacheV1&, const VerificationCacheV1&) = default;
};

// The bytes a cache's signature covers: the canonical encoding of the root, the version and the
// hashes, with no magic and no variant index. An encoding failure is StoreError::Cord.
StoreResult<cord::Buffer> encode_verification_payload(const HashValue& root, std::uint64_t version,
                                                      const cord::Set<HashValue>& record_hashes);

// The complete file for `cache`, magic included. An encoding failure is StoreError::Cord.
StoreResult<cord::Buffer> encode_verification_cache_file(const VerificationCacheV1& cache);

// The cache a complete file holds: the magic, variant V1 and the five fields with nothing after
// them; none otherwise.
std::optional<VerificationCacheV1> decode_verification_cache_file(std::span<const std::uint8_t> file);

// The bytes of a complete cache file that its signature covers: the root, the version and the
// hashes as they stand in the file, a view of `file`. Decoding is strict (fixed-width prefixes,
// hashes in strictly ascending order of their encodings, nothing after the last field), so these
// bytes are exactly encode_verification_payload of the decoded fields, found without encoding or
// sorting anything. REQUIRES: `cache` is what decode_verification_cache_file(file) returned.
std::span<const std::uint8_t> signed_payload_of(std::span<const std::uint8_t> file, const VerificationCacheV1& cache);

// The cache of (root, user) as stored, or none for any failure: missing, unreadable, too large,
// wrong magic, undecodable. Nothing is verified here.
std::optional<VerificationCacheV1> read_verification_cache(const WorkspacePaths& paths, const HashValue& root,
                                                           const UserId& user);

// Replaces the cache of (cache.trusted_root, user), creating its folders, then reads it back and
// requires the same bytes and a file that decodes. A file above the limit is refused (Io,
// InvalidData) before anything is written.
StoreResult<void> write_verification_cache(const WorkspacePaths& paths, const UserId& user,
                                           const VerificationCacheV1& cache);

// The keychain's current user for a root: the user's id, or none when the keychain names none or
// cannot say (a missing keychain directory included). The keychain sits above the store, so the
// opening hands its lookup in.
using CurrentUserLookup = std::function<std::optional<UserId>(const HashValue& root)>;

// The current user's cache for `root` when it is intact: it names `root`, carries version 1 and
// its signature verifies under the key it names. Whose key that is the caller checks once the
// session's identity is known. None for every failure, and when the lookup names no user.
std::optional<VerificationCacheV1> load_verification_cache(const WorkspacePaths& paths, const HashValue& root,
                                                           const CurrentUserLookup& current_user);

}  // namespace ostrel::store
