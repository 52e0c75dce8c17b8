// How each kind of value is written and read. A stored type declares its fields once, through
// `cord_fields`, and both directions (and nothing else) walk that one declaration:
//
//   struct GroupRecordV1 {
//     GroupId group_id;
//     std::string name;
//     std::uint64_t counter;
//     static auto cord_fields(auto& s) { return std::tie(s.group_id, s.name, s.counter); }
//   };
//
// Enumerations with data are std::variant (the alternative's index is the variant index); an
// enumeration without data is an enum class with `cord_variant_count` found by lookup. Templates
// only; safe from any thread.
#pragma once

#include <array>
#include <compare>
#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "cord/deserializer.h"
#include "cord/serializer.h"
#include "cord/stored.h"
#include "errors/try.h"
#include "platform/secret.h"

namespace ostrel::cord {

// Public byte strings (keys, signatures, hashes) as stored fields.
using Bytes = std::vector<std::uint8_t>;

template <class T>
struct Codec;  // a type without a specialisation has no encoding

template <class T>
Status encode(Serializer& s, const T& value, WidthHint hint = WidthHint::None) {
  return Codec<T>::encode(s, value, hint);
}
template <class T>
Status decode(Deserializer& d, T& out, WidthHint hint = WidthHint::None) {
  return Codec<T>::decode(d, out, hint);
}

// ---- concepts --------------------------------------------------------------------------------

template <class T>
concept HasFields = requires(T& t, const T& c) {
  T::cord_fields(t);
  T::cord_fields(c);
};

// A variant without data inside an enumeration: contributes no bytes and no depth.
template <class T>
concept IsUnit = requires { requires T::cord_unit; };

template <class T>
concept IsUnitEnum = std::is_enum_v<T> && requires(T e) {
  { cord_variant_count(e) } -> std::convertible_to<std::uint32_t>;
};

// ---- scalars ---------------------------------------------------------------------------------

// Fixed-width integer fields ignore any hint.
template <>
struct Codec<std::uint32_t> {
  static Status encode(Serializer& s, std::uint32_t v, WidthHint) {
    s.write_u32(v);
    return {};
  }
  static Status decode(Deserializer& d, std::uint32_t& out, WidthHint) {
    OSTREL_TRY_ASSIGN(out, d.read_u32_field());
    return {};
  }
};

template <>
struct Codec<std::uint64_t> {
  static Status encode(Serializer& s, std::uint64_t v, WidthHint) {
    s.write_u64(v);
    return {};
  }
  static Status decode(Deserializer& d, std::uint64_t& out, WidthHint) {
    OSTREL_TRY_ASSIGN(out, d.read_u64_field());
    return {};
  }
};

template <>
struct Codec<std::string> {
  static Status encode(Serializer& s, const std::string& v, WidthHint hint) {
    return s.serialize_str(v, hint);
  }
  static Status decode(Deserializer& d, std::string& out, WidthHint hint) {
    OSTREL_TRY_ASSIGN(auto view, d.read_str(hint));
    out.assign(view);
    return {};
  }
};

// Texts of stored values: a view of the input when the reader allows it, else a copy.
template <>
struct Codec<Text> {
  static Status encode(Serializer& s, const Text& v, WidthHint hint) { return s.serialize_str(v.view(), hint); }
  static Status decode(Deserializer& d, Text& out, WidthHint hint) {
    OSTREL_TRY_ASSIGN(auto view, d.read_str(hint));
    out = d.may_view() ? Text::view(view) : Text(view);
    return {};
  }
};

namespace detail {
// A byte string is a list of bytes: a compound value whose count takes the hint. Its bytes, as a
// view of the input.
inline Result<ByteView> read_byte_string(Deserializer& d, WidthHint hint) {
  OSTREL_TRY(d.enter());
  OSTREL_TRY_ASSIGN(auto n, d.read_len(hint));
  // The count is only trusted once the bytes are seen to exist, so a forged count allocates
  // nothing.
  OSTREL_TRY_ASSIGN(auto bytes, d.take_bytes(n));
  d.leave();
  return bytes;
}
}  // namespace detail

// Public byte strings, and encodings kept as fields (Buffer).
template <class A>
struct Codec<std::vector<std::uint8_t, A>> {
  static Status encode(Serializer& s, const std::vector<std::uint8_t, A>& v, WidthHint hint) {
    return s.serialize_bytes(v, hint);
  }
  static Status decode(Deserializer& d, std::vector<std::uint8_t, A>& out, WidthHint hint) {
    OSTREL_TRY_ASSIGN(auto bytes, detail::read_byte_string(d, hint));
    out.assign(bytes.begin(), bytes.end());
    return {};
  }
};

// Types that hold a byte string their own way (identifiers inline, fields of a record as views
// of its bytes) say so with `cord_byte_string`; they encode as a byte string and take the bytes
// read, which they may view instead of copying when the reader says the input outlives them.
template <class T>
concept StoresByteString = requires(T& t, std::span<const std::uint8_t> bytes) {
  requires T::cord_byte_string;
  t.cord_assign(bytes, true);
  { std::as_const(t).data() } -> std::convertible_to<const std::uint8_t*>;
  { std::as_const(t).size() } -> std::convertible_to<std::size_t>;
};

template <StoresByteString T>
struct Codec<T> {
  static Status encode(Serializer& s, const T& v, WidthHint hint) {
    return s.serialize_bytes(ByteView(v.data(), v.size()), hint);
  }
  static Status decode(Deserializer& d, T& out, WidthHint hint) {
    OSTREL_TRY_ASSIGN(auto bytes, detail::read_byte_string(d, hint));
    out.cord_assign(bytes, d.may_view());
    return {};
  }
};

// Secret byte strings (plaintext values and fields) encode alike and decode straight into
// wiping memory.
template <>
struct Codec<platform::SecretBytes> {
  static Status encode(Serializer& s, const platform::SecretBytes& v, WidthHint hint) {
    return s.serialize_bytes(v.span(), hint);
  }
  static Status decode(Deserializer& d, platform::SecretBytes& out, WidthHint hint) {
    OSTREL_TRY_ASSIGN(auto bytes, detail::read_byte_string(d, hint));
    out = platform::SecretBytes::copy_of(bytes);
    return {};
  }
};

// ---- compound values -------------------------------------------------------------------------

// Lists: count in the hint's class, then each element with no hint.
template <class T, class A>
struct Codec<std::vector<T, A>> {
  static Status encode(Serializer& s, const std::vector<T, A>& v, WidthHint hint) {
    OSTREL_TRY(s.write_len(v.size(), hint));
    for (const T& e : v) OSTREL_TRY(cord::encode(s, e));
    return {};
  }
  static Status decode(Deserializer& d, std::vector<T, A>& out, WidthHint hint) {
    OSTREL_TRY(d.enter());
    OSTREL_TRY_ASSIGN(auto n, d.read_len(hint));
    out.clear();
    // Reservation from a declared count is capped at 1 MiB of elements.
    constexpr std::uint64_t kCap = std::max<std::uint64_t>(1, (1u << 20) / sizeof(T));
    out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(n, kCap)));
    for (std::uint64_t i = 0; i < n; ++i) {
      OSTREL_TRY(cord::decode(d, out.emplace_back()));
    }
    d.leave();
    return {};
  }
};

// Options: one tag byte, then the value (which keeps the pending hint).
template <class T>
struct Codec<std::optional<T>> {
  static Status encode(Serializer& s, const std::optional<T>& v, WidthHint hint) {
    if (!v) {
      s.write_u8(0);
      return {};
    }
    s.write_u8(1);
    return cord::encode(s, *v, hint);
  }
  static Status decode(Deserializer& d, std::optional<T>& out, WidthHint hint) {
    OSTREL_TRY_ASSIGN(auto tag, d.read_u8());
    if (tag == 0) {
      out.reset();
      return {};
    }
    if (tag != 1) return std::unexpected(Error::validation("Invalid option variant"));
    OSTREL_TRY(d.enter());
    OSTREL_TRY(cord::decode(d, out.emplace(), hint));
    d.leave();
    return {};
  }
};

namespace detail {
template <class Tuple>
Status encode_fields(Serializer& s, const Tuple& fields) {
  return std::apply(
      [&](const auto&... f) -> Status {
        Status st;
        (void)((st = cord::encode(s, f)) && ...);
        return st;
      },
      fields);
}
template <class Tuple>
Status decode_fields(Deserializer& d, Tuple&& fields) {
  OSTREL_TRY(d.enter());
  Status st = std::apply(
      [&](auto&... f) -> Status {
        Status r;
        (void)((r = cord::decode(d, f)) && ...);
        return r;
      },
      fields);
  if (!st) return st;
  d.leave();
  return {};
}
}  // namespace detail

// Structures and tuple structures: the fields in order, no count; the hint is dropped.
template <HasFields T>
struct Codec<T> {
  static Status encode(Serializer& s, const T& v, WidthHint) {
    return detail::encode_fields(s, T::cord_fields(v));
  }
  static Status decode(Deserializer& d, T& out, WidthHint) {
    return detail::decode_fields(d, T::cord_fields(out));
  }
};

template <class A, class B>
struct Codec<std::pair<A, B>> {
  static Status encode(Serializer& s, const std::pair<A, B>& v, WidthHint) {
    return detail::encode_fields(s, std::tie(v.first, v.second));
  }
  static Status decode(Deserializer& d, std::pair<A, B>& out, WidthHint) {
    return detail::decode_fields(d, std::tie(out.first, out.second));
  }
};

template <IsUnit T>
struct Codec<T> {
  static Status encode(Serializer&, const T&, WidthHint) { return {}; }
  static Status decode(Deserializer&, T&, WidthHint) { return {}; }
};

// Enumerations without data: the variant index alone.
template <IsUnitEnum E>
struct Codec<E> {
  static Status encode(Serializer& s, E v, WidthHint hint) {
    return s.write_variant_index(static_cast<std::uint32_t>(v), hint);
  }
  static Status decode(Deserializer& d, E& out, WidthHint hint) {
    OSTREL_TRY(d.enter());
    OSTREL_TRY_ASSIGN(auto index, d.read_u32(hint));
    if (index >= static_cast<std::uint32_t>(cord_variant_count(E{})))
      return std::unexpected(Error::unknown_variant(index));
    out = static_cast<E>(index);
    d.leave();
    return {};
  }
};

// Enumerations with data: the variant index in the hint's class, then the alternative's
// content with no hint. An index the type does not define is always UnknownVariant, which is
// how an evolving slot recognises a value from a later version.
template <class... Alts>
struct Codec<std::variant<Alts...>> {
  using V = std::variant<Alts...>;

  static Status encode(Serializer& s, const V& v, WidthHint hint) {
    OSTREL_TRY(s.write_variant_index(static_cast<std::uint32_t>(v.index()), hint));
    return std::visit([&](const auto& alt) { return cord::encode(s, alt); }, v);
  }

  static Status decode(Deserializer& d, V& out, WidthHint hint) {
    OSTREL_TRY(d.enter());
    OSTREL_TRY_ASSIGN(auto index, d.read_u32(hint));
    if (index >= sizeof...(Alts)) return std::unexpected(Error::unknown_variant(index));
    OSTREL_TRY(kDecoders<std::index_sequence_for<Alts...>>::table[index](d, out));
    d.leave();
    return {};
  }

 private:
  template <std::size_t I>
  static Status decode_alt(Deserializer& d, V& out) {
    return cord::decode(d, out.template emplace<I>());
  }
  template <class Seq>
  struct kDecoders;
  template <std::size_t... I>
  struct kDecoders<std::index_sequence<I...>> {
    static constexpr std::array<Status (*)(Deserializer&, V&), sizeof...(I)> table{&decode_alt<I>...};
  };
};

// Named enumeration types derive from std::variant and say so with `cord_variant`; they encode
// exactly as their variant.
template <class T>
concept DerivesVariant = requires { typename T::cord_variant; } && std::derived_from<T, typename T::cord_variant>;

// The one way to name a stored enumeration with data: derive from Enumeration<Alternatives...>
// and inherit its constructors. It encodes as its variant, compares by alternative then content
// (ordered too when every alternative is), and hands its variant to std::visit.
template <class... Alts>
struct Enumeration : std::variant<Alts...> {
  using cord_variant = std::variant<Alts...>;
  using std::variant<Alts...>::variant;

  const cord_variant& variant() const { return *this; }

  friend bool operator==(const Enumeration& a, const Enumeration& b) { return a.variant() == b.variant(); }
  friend auto operator<=>(const Enumeration& a, const Enumeration& b)
    requires(std::three_way_comparable<Alts> && ...)
  {
    return a.variant() <=> b.variant();
  }
};

template <DerivesVariant T>
struct Codec<T> {
  using Base = typename T::cord_variant;
  static Status encode(Serializer& s, const T& v, WidthHint hint) {
    return Codec<Base>::encode(s, static_cast<const Base&>(v), hint);
  }
  static Status decode(Deserializer& d, T& out, WidthHint hint) {
    return Codec<Base>::decode(d, static_cast<Base&>(out), hint);
  }
};

// ---- entry points ----------------------------------------------------------------------------

// The encoding of one value; a failed write yields no partial bytes.
template <class T>
Result<Buffer> to_vec(const T& value) {
  Buffer out;
  out.reserve(64);
  Serializer s(out);
  OSTREL_TRY(cord::encode(s, value));
  return out;
}

// One text's encoding: its NFC form behind a 4-byte length.
inline Result<Buffer> to_vec_string(std::string_view text) {
  Buffer out;
  out.reserve(64);
  Serializer s(out);
  OSTREL_TRY(s.serialize_str(text, WidthHint::None));
  return out;
}

// Decodes exactly one value; bytes left after it fail with TrailingBytes. With an `owner` that
// keeps `bytes` alive and unchanged, decoded values may share the bytes instead of copying them.
// `max_length` bounds every single length or count (raised only for local files that hold whole
// files as byte strings).
template <class T>
Result<T> from_slice(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner = nullptr,
                     std::uint64_t max_length = Deserializer::kMaxLength) {
  Deserializer d(bytes);
  d.set_owner(std::move(owner));
  d.set_max_length(max_length);
  T value{};
  OSTREL_TRY(cord::decode(d, value));
  if (d.remaining() != 0) return std::unexpected(Error::TrailingBytes);
  return value;
}

}  // namespace ostrel::cord
