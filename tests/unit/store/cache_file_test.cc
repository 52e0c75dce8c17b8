// The verification cache: written with its read-back, read back as stored, and loaded only when
// the keychain names a current user whose intact cache names the root, carries version 1 and
// verifies under the key it names. Every other case is no cache, never an error.
#include "store/cache_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
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

// The signature is checked over the signed fields' bytes as they stand in the file. For every
// file that decodes, those bytes must be exactly the encoded payload: roots, hashes, keys and
// signatures of any length (hashes beyond the inline size, empty ones, one whose shorter encoding
// sorts first), any version, and caches drawn at random.
TEST(VerificationCache, SignedPayloadIsTheEncodedPayload) {
  struct Case {
    std::string name;
    VerificationCacheV1 cache;
  };
  std::vector<Case> cases = {
      {"no_hashes", {h(0xaa), 1, {}, Bytes(32, 1), Bytes(64, 2)}},
      {"hashes_of_mixed_lengths",
       {h(0xaa), 1,
        cord::Set<HashValue>({h(9), HashValue(Bytes{}), HashValue(Bytes(40, 3)), HashValue(Bytes{0xff}), h(1)}),
        Bytes(32, 1), Bytes(64, 2)}},
      {"empty_root_key_and_signature", {HashValue(Bytes{}), ~std::uint64_t{0}, cord::Set<HashValue>({h(1)}), {}, {}}},
      {"long_root_key_and_signature", {HashValue(Bytes(100, 5)), 2, cord::Set<HashValue>({h(1), h(2)}), Bytes(1000, 6), Bytes(3, 7)}},
  };
  std::mt19937 rng(20261211);
  auto some_bytes = [&](std::size_t max) {
    Bytes out(std::uniform_int_distribution<std::size_t>(0, max)(rng));
    for (std::uint8_t& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
  };
  for (int i = 0; i < 100; ++i) {
    const std::size_t n = std::uniform_int_distribution<std::size_t>(0, 50)(rng);
    cord::Set<HashValue> set;
    for (std::size_t k = 0; k < n; ++k) set.insert(HashValue(some_bytes(k % 3 == 0 ? 3 : 48)));
    cases.push_back({"random_" + std::to_string(i),
                     {HashValue(some_bytes(64)), rng(), std::move(set), some_bytes(80), some_bytes(80)}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto file = encode_verification_cache_file(c.cache);
    ASSERT_TRUE(file.has_value());
    const std::optional<VerificationCacheV1> decoded = decode_verification_cache_file(*file);
    ASSERT_EQ(decoded, c.cache);
    auto payload = encode_verification_payload(c.cache.trusted_root, c.cache.version, c.cache.record_hashes);
    ASSERT_TRUE(payload.has_value());
    const std::span<const std::uint8_t> read = signed_payload_of(*file, *decoded);
    EXPECT_EQ(Bytes(read.begin(), read.end()), Bytes(payload->begin(), payload->end()));
  }
}

// A cache is loaded exactly when its signature verifies over the encoded payload: a signature over
// any neighbouring bytes of the file, or over the hashes in another order, is refused.
TEST(VerificationCache, LoadedExactlyWhenTheEncodedPayloadIsSigned) {
  const std::vector<HashValue> hashes = {h(9), HashValue(Bytes{}), HashValue(Bytes(40, 3)), h(1), HashValue(Bytes{0xff})};
  // The file of a cache of `hashes` whose signature covers what `signed_bytes` makes of the
  // encoded payload and of the file's bytes in front of it (the magic and the variant index).
  using Signed = cord::Buffer (*)(const cord::Buffer& payload, const cord::Buffer& file);
  struct Case {
    const char* name;
    Signed signed_bytes;
    bool loaded;
  };
  const Case cases[] = {
      {"the_payload", [](const cord::Buffer& p, const cord::Buffer&) { return p; }, true},
      {"the_payload_and_the_key_length",
       [](const cord::Buffer& p, const cord::Buffer&) {
         cord::Buffer out = p;
         for (std::uint8_t b : {0, 0, 0, 32}) out.push_back(b);
         return out;
       },
       false},
      {"the_payload_short_of_its_last_byte",
       [](const cord::Buffer& p, const cord::Buffer&) { return cord::Buffer(p.begin(), p.end() - 1); }, false},
      {"the_variant_index_and_the_payload",
       [](const cord::Buffer& p, const cord::Buffer& file) {
         cord::Buffer out(file.begin() + 13, file.begin() + 17);
         out.insert(out.end(), p.begin(), p.end());
         return out;
       },
       false},
      {"the_hashes_in_another_order",
       [](const cord::Buffer& p, const cord::Buffer&) {
         // Root (4 + 32), version (8), count (4), then the first two hashes' encodings swapped: the
         // empty one (4 bytes) and the one-byte one (5 bytes).
         cord::Buffer out(p.begin(), p.begin() + 48);
         out.insert(out.end(), p.begin() + 52, p.begin() + 57);
         out.insert(out.end(), p.begin() + 48, p.begin() + 52);
         out.insert(out.end(), p.begin() + 57, p.end());
         return out;
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Workspace ws;
    VerificationCacheV1 cache = ws.signed_cache(hashes);
    const cord::Buffer payload = *encode_verification_payload(cache.trusted_root, cache.version, cache.record_hashes);
    const cord::Buffer unsigned_file = *encode_verification_cache_file(cache);
    const cord::Buffer message = c.signed_bytes(payload, unsigned_file);
    ASSERT_EQ(message.size() == payload.size() && std::equal(message.begin(), message.end(), payload.begin()),
              c.loaded);
    cache.signature = crypto::sign(ws.user.keys.signing_key, kVerificationCachePurpose, message);
    ws.write_raw(*encode_verification_cache_file(cache));
    const auto loaded = load_verification_cache(ws.paths, ws.root, ws.current_user());
    EXPECT_EQ(loaded.has_value(), c.loaded);
    if (c.loaded) {
      EXPECT_EQ(loaded, cache);
    }
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
