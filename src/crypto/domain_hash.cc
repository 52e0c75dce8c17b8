#include "crypto/domain_hash.h"

#include <sodium.h>

namespace ostrel::crypto {
namespace {

void update_framed(crypto_hash_sha256_state& st, const std::uint8_t* data, std::size_t n) {
  std::uint8_t len[8];
  for (int i = 0; i < 8; ++i) len[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(n) >> (56 - 8 * i));
  crypto_hash_sha256_update(&st, len, sizeof len);
  crypto_hash_sha256_update(&st, data, n);
}

}  // namespace

HashValue domain_hash(std::string_view tag, std::span<const std::uint8_t> data) {
  static constexpr std::string_view kDomain = "ostrel.hash.v1";
  crypto_hash_sha256_state st;
  crypto_hash_sha256_init(&st);
  update_framed(st, reinterpret_cast<const std::uint8_t*>(kDomain.data()), kDomain.size());
  update_framed(st, reinterpret_cast<const std::uint8_t*>(tag.data()), tag.size());
  update_framed(st, data.data(), data.size());
  std::vector<std::uint8_t> out(crypto_hash_sha256_BYTES);
  crypto_hash_sha256_final(&st, out.data());
  return HashValue(std::move(out));
}

}  // namespace ostrel::crypto
