// Property over the stored types: any input either fails with an error or decodes to a value
// whose encoding is exactly the input. The first byte picks the type; the rest is its payload.
// Records and vault stores also decode alike whether their input is kept alive or borrowed.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

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

// Decoding from an input kept alive by an owner (fields then view it) gives what decoding a
// borrowed input gives (fields then view the record's own copy): the same value or the same error.
// A record rebuilt from copies of its fields encodes to its kept bytes.
template <class T>
void owner_agrees(std::span<const std::uint8_t> input) {
  auto borrowed = cord::from_slice<T>(input);
  auto file = std::make_shared<const std::vector<std::uint8_t>>(input.begin(), input.end());
  auto shared = cord::from_slice<T>(*file, file);
  if (borrowed.has_value() != shared.has_value()) std::abort();
  if (!borrowed) {
    if (borrowed.error().message() != shared.error().message()) std::abort();
    return;
  }
  if (!(*borrowed == *shared)) std::abort();
  if constexpr (std::is_same_v<T, core::VaultRecordV1>) {
    const core::VaultRecordV1 rebuilt(shared->body(), shared->signing_public_key(), shared->signature());
    if (!std::ranges::equal(rebuilt.encoding(), shared->encoding())) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  switch (data[0] % 6) {
    case 0:
      round_trip<core::VaultStore>(rest);
      owner_agrees<core::VaultStore>(rest);
      break;
    case 1: round_trip<core::RatchetStore>(rest); break;
    case 2: round_trip<core::SecretValueV1>(rest); break;
    case 3: round_trip<core::SealedPayloadV1>(rest); break;
    case 4: round_trip<std::vector<core::RatchetRecordV1>>(rest); break;
    case 5:
      round_trip<core::VaultRecordV1>(rest);
      owner_agrees<core::VaultRecordV1>(rest);
      break;
  }
  return 0;
}
