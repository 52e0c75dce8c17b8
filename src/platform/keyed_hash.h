// Keyed hashing for in-memory hash tables: SipHash under a per-process key drawn from the
// operating system's random source, so crafted identifiers cannot be made to collide. Safe from
// any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel::platform {

std::size_t hash_bytes(std::span<const std::uint8_t> bytes);

}  // namespace ostrel::platform
