// Named wrappers: a one-field wrapper whose name may be a marker that changes how its inner value
// is written and read (width hints, 16-byte identifiers). Every other name adds nothing. Evolving
// slots and canonical sets have their own types (Evolving, Set). Templates only.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "cord/evolving.h"
#include "cord/marker.h"

namespace ostrel::cord {

template <std::size_t N>
struct FixedName {
  char chars[N];
  constexpr FixedName(const char (&s)[N]) { std::copy_n(s, N, chars); }  // NOLINT: literal
  constexpr std::string_view view() const { return {chars, N - 1}; }
};

template <FixedName Name, class T>
struct Named {
  T value{};
  friend bool operator==(const Named&, const Named&) = default;
};

using Uuid = std::array<std::uint8_t, 16>;

template <FixedName Name, class T>
struct Codec<Named<Name, T>> {
  static constexpr std::string_view kName = Name.view();
  static_assert(marker_of(kName).kind != Marker::Evolving, "an evolving slot is an Evolving<T>");

  static Status encode(Serializer& s, const Named<Name, T>& v, WidthHint hint) {
    constexpr Marker kMarker = marker_of(kName);
    if constexpr (kMarker.kind == Marker::Hint) {
      if (hint != WidthHint::None) return std::unexpected(Error::ConflictingHints);
      return cord::encode(s, v.value, kMarker.hint);
    } else if constexpr (kMarker.kind == Marker::Uuid && std::is_same_v<T, Uuid>) {
      s.write_raw(v.value);  // exactly 16 bytes, no prefix
      return {};
    } else {
      return cord::encode(s, v.value, hint);
    }
  }

  static Status decode(Deserializer& d, Named<Name, T>& out, WidthHint hint) {
    constexpr Marker kMarker = marker_of(kName);
    OSTREL_TRY_ASSIGN(const auto bytes, read_marker(d, kMarker, hint));
    if constexpr (kMarker.kind == Marker::Uuid) {
      // The 16 bytes serve one kind of request only: reading them as a byte string.
      if constexpr (std::is_same_v<T, Uuid>) {
        std::copy(bytes.begin(), bytes.end(), out.value.begin());
        return {};
      } else {
        return std::unexpected(uuid_not_bytes());
      }
    } else {
      (void)bytes;
      return cord::decode(d, out.value, hint);
    }
  }
};

}  // namespace ostrel::cord
