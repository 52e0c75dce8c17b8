#include "store/cache_file.h"

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "crypto/signing.h"
#include "errors/try.h"
#include "store/io.h"
#include "store/verified_file.h"

namespace ostrel::store {
namespace {

constexpr FileFormat kCacheFile{.magic = {"ostrel-cache\0", 13}, .magic_name = "cache",
                                .subject = "verification cache", .max_bytes = kMaxVerificationCacheBytes,
                                .access = FileAccess::Private, .read_failed = io_read_failed,
                                .invalid = io_refused};

using VerificationCacheStore = std::variant<VerificationCacheV1>;

// The record after the magic: variant V1 only, the five fields, nothing after them.
// REQUIRES: has_magic(kCacheFile, file).
cord::Result<VerificationCacheV1> decode_after_magic(std::span<const std::uint8_t> file) {
  OSTREL_TRY_ASSIGN(VerificationCacheStore store,
                    cord::from_slice<VerificationCacheStore>(file.subspan(kCacheFile.magic.size())));
  return std::get<0>(std::move(store));
}

}  // namespace

StoreResult<cord::Buffer> encode_verification_payload(const HashValue& root, std::uint64_t version,
                                                      const cord::Set<HashValue>& record_hashes) {
  cord::Buffer out;
  cord::Serializer s(out);
  cord::Status encoded = cord::encode(s, root);
  if (encoded) encoded = cord::encode(s, version);
  if (encoded) encoded = cord::encode(s, record_hashes);
  if (!encoded) return std::unexpected(StoreError::from_cord(std::move(encoded).error()));
  return out;
}

StoreResult<cord::Buffer> encode_verification_cache_file(const VerificationCacheV1& cache) {
  cord::Buffer out = start_file(kCacheFile);
  cord::Serializer s(out);
  s.write_u32(0);  // the store's variant V1
  if (auto r = cord::encode(s, cache); !r) return std::unexpected(StoreError::from_cord(std::move(r).error()));
  return out;
}

std::optional<VerificationCacheV1> decode_verification_cache_file(std::span<const std::uint8_t> file) {
  if (!has_magic(kCacheFile, file)) return std::nullopt;
  auto cache = decode_after_magic(file);
  if (!cache) return std::nullopt;
  return std::move(*cache);
}

std::span<const std::uint8_t> signed_payload_of(std::span<const std::uint8_t> file, const VerificationCacheV1& cache) {
  // The file is the magic, the variant index, the three signed fields, then the key and the
  // signature, each a 4-byte length and its bytes, and nothing after them.
  constexpr std::size_t kVariantIndex = 4;
  constexpr std::size_t kLength = 4;
  const std::size_t start = kCacheFile.magic.size() + kVariantIndex;
  const std::size_t tail = kLength + cache.signing_public_key.size() + kLength + cache.signature.size();
  if (file.size() < start + tail) return {};  // not the file `cache` came from
  return file.subspan(start, file.size() - start - tail);
}

namespace {

std::optional<std::vector<std::uint8_t>> read_cache_bytes(const WorkspacePaths& paths, const HashValue& root,
                                                          const UserId& user) {
  auto bytes = read_stored_file(paths.cache_path(root.bytes, user.value.bytes), kCacheFile);
  if (!bytes) return std::nullopt;
  return std::move(*bytes);
}

}  // namespace

std::optional<VerificationCacheV1> read_verification_cache(const WorkspacePaths& paths, const HashValue& root,
                                                           const UserId& user) {
  const auto bytes = read_cache_bytes(paths, root, user);
  if (!bytes) return std::nullopt;
  return decode_verification_cache_file(*bytes);
}

StoreResult<void> write_verification_cache(const WorkspacePaths& paths, const UserId& user,
                                           const VerificationCacheV1& cache) {
  OSTREL_TRY_ASSIGN(const cord::Buffer bytes, encode_verification_cache_file(cache));
  const std::filesystem::path path = paths.cache_path(cache.trusted_root.bytes, user.value.bytes);
  return write_verified(
      path, bytes, kCacheFile, [&] { return prepare_state_dir(paths); },
      [&](std::span<const std::uint8_t> written) -> StoreResult<void> {
        if (!has_magic(kCacheFile, written)) return std::unexpected(io_refused(path, "verification cache lost its magic prefix"));
        if (auto decoded = decode_after_magic(written); !decoded) {
          return std::unexpected(StoreError::from_cord(std::move(decoded).error()));
        }
        return {};
      });
}

std::optional<VerificationCacheV1> load_verification_cache(const WorkspacePaths& paths, const HashValue& root,
                                                           const CurrentUserLookup& current_user) {
  if (!current_user) return std::nullopt;
  const std::optional<UserId> user = current_user(root);
  if (!user) return std::nullopt;
  const auto bytes = read_cache_bytes(paths, root, *user);
  if (!bytes) return std::nullopt;
  std::optional<VerificationCacheV1> cache = decode_verification_cache_file(*bytes);
  if (!cache || cache->trusted_root != root || cache->version != kVerificationCacheVersion) return std::nullopt;
  // The signed bytes as read, not encoded again: they are the canonical payload (signed_payload_of).
  if (!crypto::verify_signature(kVerificationCachePurpose, cache->signing_public_key,
                                signed_payload_of(*bytes, *cache), cache->signature)) {
    return std::nullopt;
  }
  return cache;
}

}  // namespace ostrel::store
