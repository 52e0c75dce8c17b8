#include "crypto/domain_hash.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>

// SHA-256 comes from OpenSSL's libcrypto, which uses the CPU's SHA instructions where there are
// some: about four times libsodium's portable code on a record (bench/crypto_bench.cc), and the
// domain hash runs over every record at every open. Every other primitive stays with libsodium.
namespace ostrel::crypto {
namespace {

// The domain hash names records, files and identifiers, and a digest it returned would be taken
// for the real one, so there is no value to return when OpenSSL fails. It fails only when memory
// runs out or the library is broken; the process stops with OpenSSL's reasons instead.
[[noreturn]] void sha256_failed(const char* step) {
  std::fprintf(stderr, "ostrel: SHA-256 from OpenSSL's libcrypto failed (%s)\n", step);
  ERR_print_errors_fp(stderr);
  std::abort();
}

void require(int ok, const char* step) {
  if (ok != 1) sha256_failed(step);
}

// Fetched once and kept for the life of the process: initialising with EVP_sha256() makes OpenSSL
// look the implementation up again every time, which costs about as much as hashing 300 bytes.
const EVP_MD* sha256() {
  static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  if (md == nullptr) sha256_failed("fetching SHA256");
  return md;
}

struct ContextFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

// One context per thread, initialised again for every hash, so a hash allocates nothing.
EVP_MD_CTX* thread_context() {
  thread_local const std::unique_ptr<EVP_MD_CTX, ContextFree> ctx(EVP_MD_CTX_new());
  if (ctx == nullptr) sha256_failed("allocating a digest context");
  return ctx.get();
}

void update_framed(EVP_MD_CTX* ctx, const void* data, std::size_t n) {
  std::array<std::uint8_t, 8> len;
  for (int i = 0; i < 8; ++i) len[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(n) >> (56 - 8 * i));
  require(EVP_DigestUpdate(ctx, len.data(), len.size()), "update");
  require(EVP_DigestUpdate(ctx, data, n), "update");
}

}  // namespace

HashValue domain_hash(std::string_view tag, std::span<const std::uint8_t> data) {
  static constexpr std::string_view kDomain = "ostrel.hash.v1";
  EVP_MD_CTX* const ctx = thread_context();
  require(EVP_DigestInit_ex(ctx, sha256(), nullptr), "init");
  update_framed(ctx, kDomain.data(), kDomain.size());
  update_framed(ctx, tag.data(), tag.size());
  update_framed(ctx, data.data(), data.size());
  std::array<std::uint8_t, 32> out;
  unsigned int written = 0;
  require(EVP_DigestFinal_ex(ctx, out.data(), &written), "final");
  if (written != out.size()) sha256_failed("digest of the wrong length");
  return HashValue(std::span<const std::uint8_t>(out));
}

}  // namespace ostrel::crypto
