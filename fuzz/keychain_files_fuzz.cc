// Property of the keychain file payloads: the first byte picks the store (identity,
// current-user, keychain record set, unlocked plaintext); the rest either fails to decode or
// decodes to a value that encodes back to exactly the bytes read (unknown records included).
#include <cstdint>
#include <cstdlib>
#include <span>

#include "keychain/stored.h"

using namespace ostrel;

namespace {

template <class T, class Encode>
void round_trip(const cord::Result<T>& decoded, std::span<const std::uint8_t> input, Encode&& encode) {
  if (!decoded) return;
  auto again = encode(*decoded);
  if (!again || !std::ranges::equal(*again, input)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> input(data + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      round_trip(keychain::decode_identity_store(input), input, keychain::encode_identity_store);
      break;
    case 1:
      round_trip(keychain::decode_current_user_store(input), input, keychain::encode_current_user_store);
      break;
    case 2:
      round_trip(keychain::decode_keychain_store(input), input, keychain::encode_keychain_store);
      break;
    default:
      if (auto local = keychain::decode_local_identity(input); local) {
        // One byte string and nothing else.
        if (input.size() != 4 + local->seed.size()) std::abort();
      }
      break;
  }
  return 0;
}
