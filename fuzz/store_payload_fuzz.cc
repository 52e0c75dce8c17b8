// Property over the stored types: any input either fails with an error or decodes to a value
// whose encoding is exactly the input. The first byte picks the type; the rest is its payload.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "cord/cord.h"
#include "core/ratchet_records.h"
#include "core/records.h"
#include "core/secret_value.h"

namespace {

using namespace ostrel;

template <class T>
void round_trip(std::span<const std::uint8_t> input) {
  auto decoded = cord::from_slice<T>(input);
  if (!decoded) return;
  auto encoded = cord::to_vec(*decoded);
  if (!encoded || encoded->size() != input.size() ||
      (input.size() != 0 && std::memcmp(encoded->data(), input.data(), input.size()) != 0))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  switch (data[0] % 6) {
    case 0: round_trip<core::VaultStore>(rest); break;
    case 1: round_trip<core::RatchetStore>(rest); break;
    case 2: round_trip<core::SecretValueV1>(rest); break;
    case 3: round_trip<core::SealedPayloadV1>(rest); break;
    case 4: round_trip<std::vector<core::RatchetRecordV1>>(rest); break;
    case 5: round_trip<core::VaultRecordV1>(rest); break;
  }
  return 0;
}
