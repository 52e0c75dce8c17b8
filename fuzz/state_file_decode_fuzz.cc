// The decoders of the state folder's own files (the verification cache, the transaction journal,
// the join-commit journal): any input either fails with an error or decodes to a value whose
// encoding is exactly the input. The first byte picks the file; the rest is the whole file.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "store/cache_file.h"
#include "store/join_commit_file.h"
#include "store/transaction_file.h"

namespace {

using namespace ostrel;

template <class Buffer>
void same_bytes(const Buffer& encoded, std::span<const std::uint8_t> input) {
  if (!std::ranges::equal(encoded, input)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> file(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      if (auto cache = store::decode_verification_cache_file(file)) {
        auto encoded = store::encode_verification_cache_file(*cache);
        if (!encoded) std::abort();
        same_bytes(*encoded, file);
      }
      break;
    case 1:
      if (auto journal = store::decode_transaction_file("transaction.cord", file)) {
        auto encoded = store::encode_transaction_file(*journal);
        if (!encoded) std::abort();
        same_bytes(*encoded, file);
      }
      break;
    case 2:
      if (!store::has_join_commit_magic(file)) break;
      if (auto journal = store::decode_join_commit_file(file)) {
        auto encoded = store::encode_join_commit_file(*journal);
        if (!encoded) std::abort();
        same_bytes(*encoded, file);
      }
      break;
  }
  return 0;
}
