// The verification cache: written with its read-back, read back as stored, and loaded only when
// the keychain names a current user whose intact cache names the root, carries version 1 and
// verifies under the key it names. Every other case is no cache, never an error.
#include "store/cache_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "crypto/signing.h"
#include "support/identities.h"
#include "support/scratch.h"

namespace ostrel::store {
namespace {

using ostrel::testing::ScopedEnv;
using ostrel::testing::ScratchDir;
using Bytes = std::vector<std::uint8_t>;

HashValue h(std::uint8_t fill) { return HashValue(Bytes(32, fill)); }

struct Workspace {
  ScratchDir dir;
  ScopedEnv state_dir{"OSTREL_STATE_DIR", (dir / "state").string()};
  WorkspacePaths paths = WorkspacePaths::for_vault_file(dir / ".ostrel" / "vault.cord");
  crypto::Identity user = ostrel::testing::identity_of(3);
  HashValue root = h(0xaa);

  std::filesystem::path path() const { return paths.cache_path(root.bytes, user.user_id.value.bytes); }

  // A cache of `hashes` signed by the user's key, as a session writes it.
  VerificationCacheV1 signed_cache(std::vector<HashValue> hashes) const {
    VerificationCacheV1 cache{root, 1, cord::Set<HashValue>(std::move(hashes)), {}, {}};
    auto payload = encode_verification_payload(cache.trusted_root, cache.version, cache.record_hashes);
    if (!payload) std::abort();
    cache.signing_public_key = Bytes(user.signing_public_key.begin(), user.signing_public_key.end());
    cache.signature = crypto::sign(user.keys.signing_key, kVerificationCachePurpose, *payload);
    return cache;
  }

  // The keychain's answer for every root.
  CurrentUserLookup current_user() const {
    return [id = user.user_id](const HashValue&) -> std::optional<UserId> { return id; };
  }

  void write_raw(const cord::Buffer& bytes) const {
    std::filesystem::create_directories(path().parent_path());
    ostrel::testing::write_file(path(), std::string(bytes.begin(), bytes.end()));
  }
};

TEST(VerificationCache, WrittenThenLoaded) {
  Workspace ws;
  const VerificationCacheV1 cache = ws.signed_cache({h(1), h(2), h(3)});
  auto written = write_verification_cache(ws.paths, ws.user.user_id, cache);
  ASSERT_TRUE(written.has_value()) << written.error().message();
  EXPECT_EQ(ostrel::testing::mode_of(ws.path()), 0600u);
  EXPECT_EQ(read_verification_cache(ws.paths, ws.root, ws.user.user_id), cache);
  EXPECT_EQ(load_verification_cache(ws.paths, ws.root, ws.current_user()), cache);
}

TEST(VerificationCache, NoHashesIsAValidCache) {
  Workspace ws;
  const VerificationCacheV1 cache = ws.signed_cache({});
  ASSERT_TRUE(write_verification_cache(ws.paths, ws.user.user_id, cache).has_value());
  EXPECT_EQ(load_verification_cache(ws.paths, ws.root, ws.current_user()), cache);
}

// The file is the magic, the variant index 0 and the five fields.
TEST(VerificationCache, FileLayout) {
  Workspace ws;
  VerificationCacheV1 cache{h(0xaa), 1, cord::Set<HashValue>({HashValue(Bytes{7})}), Bytes{1, 2}, Bytes{3}};
  auto bytes = encode_verification_cache_file(cache);
  ASSERT_TRUE(bytes.has_value());
  Bytes want = ostrel::testing::bytes(std::string("ostrel-cache") + '\0');
  const Bytes rest = {0, 0, 0, 0,                                                  // V1
                      0, 0, 0, 32};                                                // root length
  want.insert(want.end(), rest.begin(), rest.end());
  want.insert(want.end(), 32, 0xaa);
  const Bytes tail = {0, 0, 0, 0, 0, 0, 0, 1,  // version
                      0, 0, 0, 1, 0, 0, 0, 1, 7,  // one hash of one byte
                      0, 0, 0, 2, 1, 2,           // key
                      0, 0, 0, 1, 3};             // signature
  want.insert(want.end(), tail.begin(), tail.end());
  EXPECT_EQ(Bytes(bytes->begin(), bytes->end()), want);
}

TEST(VerificationCache, IgnoredWheneverSomethingIsWrong) {
  struct Case {
    const char* name;
    void (*prepare)(Workspace&);
  };
  const Case cases[] = {
      {"missing", [](Workspace&) {}},
      {"other_root",
       [](Workspace& ws) {
         VerificationCacheV1 cache = ws.signed_cache({h(1)});
         cache.trusted_root = h(0xbb);
         ws.write_raw(*encode_verification_cache_file(cache));
       }},
      {"version_2",
       [](Workspace& ws) {
         VerificationCacheV1 cache = ws.signed_cache({h(1)});
         cache.version = 2;
         ws.write_raw(*encode_verification_cache_file(cache));
       }},
      {"signature_over_other_hashes",
       [](Workspace& ws) {
         VerificationCacheV1 cache = ws.signed_cache({h(1)});
         cache.record_hashes = cord::Set<HashValue>({h(2)});
         ws.write_raw(*encode_verification_cache_file(cache));
       }},
      {"key_of_wrong_length",
       [](Workspace& ws) {
         VerificationCacheV1 cache = ws.signed_cache({h(1)});
         cache.signing_public_key.pop_back();
         ws.write_raw(*encode_verification_cache_file(cache));
       }},
      {"one_byte_after_the_last_field",
       [](Workspace& ws) {
         cord::Buffer bytes = *encode_verification_cache_file(ws.signed_cache({h(1)}));
         bytes.push_back(0);
         ws.write_raw(bytes);
       }},
      {"wrong_magic",
       [](Workspace& ws) {
         cord::Buffer bytes = *encode_verification_cache_file(ws.signed_cache({h(1)}));
         bytes[0] = 'O';
         ws.write_raw(bytes);
       }},
      {"a_directory",
       [](Workspace& ws) { std::filesystem::create_directories(ws.path()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Workspace ws;
    c.prepare(ws);
    EXPECT_EQ(load_verification_cache(ws.paths, ws.root, ws.current_user()), std::nullopt);
  }
}

// Without a current user, or with another one, no cache is read. (A keychain that cannot say
// counts as no current user: keychain::current_user_or_none, tested with the keychain.)
TEST(VerificationCache, TheKeychainDecidesWhoseCacheIsRead) {
  Workspace ws;
  ASSERT_TRUE(write_verification_cache(ws.paths, ws.user.user_id, ws.signed_cache({h(1)})).has_value());
  const CurrentUserLookup none = [](const HashValue&) -> std::optional<UserId> { return std::nullopt; };
  const UserId other = ostrel::testing::identity_of(4).user_id;
  const CurrentUserLookup someone_else = [&](const HashValue&) -> std::optional<UserId> { return other; };
  EXPECT_EQ(load_verification_cache(ws.paths, ws.root, none), std::nullopt);
  EXPECT_EQ(load_verification_cache(ws.paths, ws.root, someone_else), std::nullopt);
  EXPECT_EQ(load_verification_cache(ws.paths, ws.root, nullptr), std::nullopt);
}

// The limit is the whole file: one of exactly 33,554,432 bytes is read, one byte more is refused by
// the writer before anything is written.
TEST(VerificationCache, SizeLimit) {
  Workspace ws;
  VerificationCacheV1 cache{ws.root, 1, {}, Bytes(16'777'216, 1), {}};
  // 13 magic + 4 variant + 36 root + 8 version + 4 count + 4 + key + 4 + signature.
  cache.signature = Bytes(33'554'432 - 73 - cache.signing_public_key.size(), 2);
  auto bytes = encode_verification_cache_file(cache);
  ASSERT_EQ(bytes->size(), 33'554'432u);
  ASSERT_TRUE(write_verification_cache(ws.paths, ws.user.user_id, cache).has_value());
  EXPECT_EQ(read_verification_cache(ws.paths, ws.root, ws.user.user_id), cache);

  cache.signature.push_back(3);
  std::filesystem::remove(ws.path());
  auto refused = write_verification_cache(ws.paths, ws.user.user_id, cache);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().message(), "I/O error at " + ws.path().string() +
                                           ": verification cache is 33554433 bytes, above the supported maximum of "
                                           "33554432");
  EXPECT_FALSE(std::filesystem::exists(ws.path()));
  // Such a file is ignored by the reader.
  ws.write_raw(*encode_verification_cache_file(cache));
  EXPECT_EQ(read_verification_cache(ws.paths, ws.root, ws.user.user_id), std::nullopt);
}

}  // namespace
}  // namespace ostrel::store
