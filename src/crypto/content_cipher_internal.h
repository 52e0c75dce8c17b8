// The HPKE info that hpke_seal and hpke_open build, exposed for tests. Pure function; safe from
// any thread.
#pragma once

#include "crypto/content_cipher.h"

namespace ostrel::crypto {

// The HPKE info of a context: "ostrel.hpke-info.v1" and the context, each behind its length as a
// 64-bit big-endian integer (35 + context bytes).
cord::Buffer hpke_info(std::span<const std::uint8_t> context);

}  // namespace ostrel::crypto
