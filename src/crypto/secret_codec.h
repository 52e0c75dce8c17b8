// A secret byte string as a stored field: written like any byte string (a length, then the
// bytes) and read straight into a SecretBytes, so a decoded seed never sits in a copyable buffer.
// Templates only; safe from any thread.
#pragma once

#include "cord/codec.h"
#include "crypto/secret.h"

namespace ostrel::cord {

template <>
struct Codec<crypto::SecretBytes> {
  static Status encode(Serializer& s, const crypto::SecretBytes& v, WidthHint hint) {
    return s.serialize_bytes(v.span(), hint);
  }
  static Status decode(Deserializer& d, crypto::SecretBytes& out, WidthHint hint) {
    OSTREL_TRY(d.enter());
    OSTREL_TRY_ASSIGN(auto n, d.read_len(hint));
    OSTREL_TRY_ASSIGN(auto bytes, d.take_bytes(n));
    out = crypto::SecretBytes::copy_of(bytes);
    d.leave();
    return {};
  }
};

}  // namespace ostrel::cord
