// Operating-system randomness. Safe from any thread; no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

namespace ostrel::platform {

// A failure that cannot happen on a supported system and after which no operation may go on.
// It is the one exception the library raises; the Python binding reports it as its internal
// failure, and nothing continues with partial results.
class InternalFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Fills `out` from the kernel's random source (getrandom), retrying on EINTR and short reads.
// Throws InternalFailure if the source fails: never returns fewer or predictable bytes.
void random_bytes(std::span<std::uint8_t> out);

}  // namespace ostrel::platform
