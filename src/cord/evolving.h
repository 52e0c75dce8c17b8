// Evolving slots: a payload behind its own length, decoded on its own. A payload that holds a
// variant index this version does not know is kept as raw bytes and written back unchanged, so
// records written by a later version pass through. Templates only; safe from any thread.
#pragma once

#include <memory>
#include <utility>
#include <variant>

#include "cord/codec.h"
#include "cord/marker.h"

namespace ostrel::cord {

// A known value is held apart from its slot, so a slot kept raw costs its bytes only, however
// large the known alternatives are (a vault file of a later version's small records stays small
// in memory). Copies copy the value.
template <class T, Width W = Width::W32>
class Evolving {
 public:
  Evolving() : form_(std::make_unique<T>()) {}
  Evolving(T value) : form_(std::make_unique<T>(std::move(value))) {}  // NOLINT: a known value is an evolving value
  Evolving(const Evolving& other) : form_(other.copy_form()) {}
  Evolving(Evolving&&) noexcept = default;
  Evolving& operator=(const Evolving& other) {
    if (this != &other) form_ = other.copy_form();
    return *this;
  }
  Evolving& operator=(Evolving&&) noexcept = default;

  static Evolving raw(ByteString payload) { return Evolving(Form(std::in_place_index<1>, Raw{std::move(payload)})); }

  bool is_raw() const { return form_.index() == 1; }
  // The decoded value, or null in the raw form.
  const T* known() const {
    const auto* p = std::get_if<0>(&form_);
    return p != nullptr ? p->get() : nullptr;
  }
  T* known() {
    auto* p = std::get_if<0>(&form_);
    return p != nullptr ? p->get() : nullptr;
  }
  // The payload bytes. REQUIRES: is_raw().
  const ByteString& raw_payload() const { return std::get<1>(form_).payload; }

  // Takes `other`'s content without moving this value's own: the known value (or the raw
  // payload) stays where it is and is assigned from `other`'s, so what points into it stays
  // valid. REQUIRES: both are raw, or both are known and hold the same alternative.
  void assign_in_place(Evolving&& other) {
    if (is_raw()) {
      std::get<1>(form_).payload = std::move(std::get<1>(other.form_).payload);
    } else {
      *known() = std::move(*other.known());
    }
  }

  friend bool operator==(const Evolving& a, const Evolving& b) {
    if (a.is_raw() != b.is_raw()) return false;
    return a.is_raw() ? a.raw_payload() == b.raw_payload() : *a.known() == *b.known();
  }

 private:
  struct Raw {
    ByteString payload;
  };
  using Form = std::variant<std::unique_ptr<T>, Raw>;
  explicit Evolving(Form form) : form_(std::move(form)) {}
  Form copy_form() const {
    if (is_raw()) return Form(std::in_place_index<1>, std::get<1>(form_));
    return Form(std::in_place_index<0>, std::make_unique<T>(*known()));
  }

  Form form_;
};

// Reads an evolving value under the wrapper `name`. Under an evolving name the payload is decoded
// by a fresh reader (limits restart); an unknown variant anywhere inside yields the raw form,
// other failures come back wrapped once more, and unused payload bytes are refused. Under any
// other name the value is read in place.
template <class T, Width W>
Status deserialize_evolving(Deserializer& d, WidthHint hint, std::string_view name, Evolving<T, W>& out) {
  const Marker m = marker_of(name);
  OSTREL_TRY_ASSIGN(const auto payload, read_marker(d, m, hint));
  if (m.kind == Marker::Uuid) return std::unexpected(uuid_not_bytes());
  if (m.kind != Marker::Evolving) {
    T value{};
    OSTREL_TRY(cord::decode(d, value, hint));
    out = Evolving<T, W>(std::move(value));
    return {};
  }

  Deserializer inner(payload);
  inner.set_owner(d.owner());
  inner.set_may_view(d.may_view());
  T value{};
  if (auto r = cord::decode(inner, value); !r) {
    if (r.error().kind() == Error::UnknownVariant) {
      out = Evolving<T, W>::raw(d.may_view() ? ByteString::view(payload) : ByteString(payload));
      return {};
    }
    return std::unexpected(Error::wrap_de(r.error()));
  }
  if (inner.remaining() != 0) return std::unexpected(Error::custom("trailing bytes in evolving payload"));
  out = Evolving<T, W>(std::move(value));
  return {};
}

template <class T, Width W>
struct Codec<Evolving<T, W>> {
  static constexpr std::string_view name() {
    switch (W) {
      case Width::W8: return marker::kEvolving8;
      case Width::W16: return marker::kEvolving16;
      default: return marker::kEvolving32;
    }
  }

  // A known value is written in place behind a placeholder length that is filled in once the
  // payload's size is known (the same bytes as staging it apart, without a copy); a raw one is
  // written verbatim behind its length, reproducing the slot that was read.
  static Status encode(Serializer& s, const Evolving<T, W>& v, WidthHint hint) {
    if (hint != WidthHint::None) return std::unexpected(Error::ConflictingHints);
    if (const T* known = v.known()) return encode_known(s, *known);
    Buffer& out = s.out();
    const ByteString& raw = v.raw_payload();
    OSTREL_TRY(write_len(out, raw.size(), W));
    s.write_raw(raw);
    return {};
  }
  static Status decode(Deserializer& d, Evolving<T, W>& out, WidthHint hint) {
    return deserialize_evolving(d, hint, name(), out);
  }

  // The slot of a known `value`, written as an Evolving holding it would be, without making one.
  static Status encode_known(Serializer& s, const T& value) {
    static_assert(W != Width::W64, "evolving slots have 1-, 2- or 4-byte lengths");
    Buffer& out = s.out();
    constexpr std::size_t kLen = std::size_t{1} << static_cast<int>(W);
    const std::size_t start = out.size();
    out.resize(start + kLen);
    if (auto r = cord::encode(s, value); !r) {
      out.resize(start);
      return r;
    }
    const std::uint64_t n = out.size() - start - kLen;
    if (n > max_of(W)) {
      out.resize(start);
      return std::unexpected(Error::Overflow);
    }
    for (std::size_t i = 0; i < kLen; ++i) out[start + i] = static_cast<std::uint8_t>(n >> (8 * (kLen - 1 - i)));
    return {};
  }
};

}  // namespace ostrel::cord
