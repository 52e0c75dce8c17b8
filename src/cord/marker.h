// The one marker dispatch: what a wrapper's name asks of the reader before the wrapped value,
// and the texts of its refusals. Every reader of a named wrapper (Named, Evolving, Set) starts
// here. Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "cord/deserializer.h"
#include "cord/width.h"
#include "errors/cord_error.h"
#include "errors/try.h"

namespace ostrel::cord {

// What a wrapper's name asks for.
struct Marker {
  enum Kind : std::uint8_t { Plain, Hint, Evolving, Uuid };
  Kind kind = Plain;
  WidthHint hint = WidthHint::None;  // Hint: the hint it sets
  Width width = Width::W32;          // Evolving: the class of the payload's length
};

constexpr Marker marker_of(std::string_view name) {
  if (auto w = evolving_width(name)) return Marker{Marker::Evolving, WidthHint::None, *w};
  if (auto h = marker_hint(name)) return Marker{Marker::Hint, *h, Width::W32};
  if (name == marker::kUuid) return Marker{Marker::Uuid, WidthHint::None, Width::W32};
  return Marker{};
}

// A width or varint marker met while another hint is pending.
inline Error conflicting_sentinel() {
  return Error::validation("Conflicting sentinel nesting: cannot combine width/varint wrappers");
}

// The 16 bytes under the uuid marker read as anything but a byte string.
inline Error uuid_not_bytes() {
  return Error::validation("FixedBytesDeserializer only supports deserialize_bytes");
}

// Reads what `m` puts ahead of a value: a width or varint marker becomes the pending `hint` (a
// second is refused); the uuid marker takes its 16 bytes; an evolving marker refuses a pending
// hint and takes its payload behind its length. Returns the bytes taken, none for the others.
inline Result<std::span<const std::uint8_t>> read_marker(Deserializer& d, const Marker& m, WidthHint& hint) {
  switch (m.kind) {
    case Marker::Plain: return std::span<const std::uint8_t>();
    case Marker::Hint:
      if (hint != WidthHint::None) return std::unexpected(conflicting_sentinel());
      hint = m.hint;
      return std::span<const std::uint8_t>();
    case Marker::Uuid: return d.take_bytes(16);
    case Marker::Evolving: {
      if (hint != WidthHint::None) return std::unexpected(conflicting_sentinel());
      OSTREL_TRY_ASSIGN(const std::uint64_t len, d.read_len_width(m.width, d.max_length()));
      return d.take_bytes(len);
    }
  }
  return std::span<const std::uint8_t>();
}

}  // namespace ostrel::cord
