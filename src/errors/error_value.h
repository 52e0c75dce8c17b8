// The one shape of every error enumeration: a kind and a pointer to an immutable payload that
// copies share (16 bytes; a move steals the pointer, a copy counts a reference, a kind without
// data allocates nothing). The message is the kind's form, such as "vault file {} is invalid: {}",
// with each {} filled by the payload's next field in that field's text form. An enumeration adds
// a kind with one factory and one line of its `form` switch. Values are immutable; safe to copy,
// to share and to pass between threads.
#pragma once

#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "errors/text_form.h"

namespace ostrel::errors {

// A text shown in quoted form ("a\"b") instead of as it is.
struct Quoted {
  std::string text;
  friend bool operator==(const Quoted&, const Quoted&) = default;
};

// How a payload field fills its {}. Types of the layers above add their own overload beside
// the type (found by argument-dependent lookup); a type with `message()` (a wrapped error) shows
// its message, one with `debug()` (ids, hashes) its Debug form.
inline void append_field(std::string& out, std::string_view text) { out += text; }
inline void append_field(std::string& out, const std::string& text) { out += text; }
// Texts joined by ", ", unquoted: A, B.
inline void append_field(std::string& out, const std::vector<std::string>& texts) {
  out += joined(texts, [](const std::string& t) { return t; });
}
inline void append_field(std::string& out, const Quoted& q) { append_quoted(out, q.text); }
inline void append_field(std::string& out, const std::filesystem::path& path) {
  out += path_text(path);
}
template <class T>
  requires(std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char>)
void append_field(std::string& out, T number) {
  out += std::to_string(number);
}
template <class T>
  requires requires(const T& v) { { v.message() } -> std::convertible_to<std::string>; }
void append_field(std::string& out, const T& error) {
  out += error.message();
}
template <class T>
  requires requires(const T& v) { { v.debug() } -> std::convertible_to<std::string>; }
void append_field(std::string& out, const T& value) {
  out += value.debug();
}
// A list of values with a Debug form, bracketed: [HashValue([1]), HashValue([2])].
template <class T>
  requires requires(const T& v) { { v.debug() } -> std::convertible_to<std::string>; }
void append_field(std::string& out, const std::vector<T>& items) {
  out += debug_list(items);
}

// The shared, immutable data of one error value: its fields, counted by their holders.
class Payload {
 public:
  Payload(const Payload&) = delete;
  Payload& operator=(const Payload&) = delete;
  virtual ~Payload() = default;

  virtual std::size_t size() const = 0;
  // Field `i` when it holds exactly a `type`, else null.
  virtual const void* field(std::size_t i, const std::type_info& type) const = 0;
  // Appends the text form of field `i`; nothing past the last field.
  virtual void append(std::string& out, std::size_t i) const = 0;
  virtual bool equals(const Payload& other) const = 0;

  void retain() const { refs_.fetch_add(1, std::memory_order_relaxed); }
  // True when this was the last holder.
  bool release() const { return refs_.fetch_sub(1, std::memory_order_acq_rel) == 1; }

 protected:
  Payload() = default;

 private:
  mutable std::atomic<std::uint32_t> refs_{1};
};

template <class... Fields>
class FieldsPayload final : public Payload {
 public:
  template <class... Args>
  explicit FieldsPayload(Args&&... args) : fields_(std::forward<Args>(args)...) {}

  std::size_t size() const override { return sizeof...(Fields); }

  const void* field(std::size_t i, const std::type_info& type) const override {
    const void* found = nullptr;
    visit(i, [&](const auto& f) {
      if (typeid(f) == type) found = &f;
    });
    return found;
  }

  void append(std::string& out, std::size_t i) const override {
    visit(i, [&](const auto& f) { append_field(out, f); });
  }

  bool equals(const Payload& other) const override {
    const auto* same = typeid(other) == typeid(*this) ? static_cast<const FieldsPayload*>(&other) : nullptr;
    if constexpr ((std::equality_comparable<Fields> && ...)) {
      return same != nullptr && same->fields_ == fields_;
    } else {
      return same == this;
    }
  }

 private:
  template <class Fn>
  void visit(std::size_t i, Fn&& fn) const {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      ((I == i ? (fn(std::get<I>(fields_)), 0) : 0), ...);
    }(std::index_sequence_for<Fields...>{});
  }

  std::tuple<Fields...> fields_;
};

// Fills the {} of `form` with the payload's fields in order; a form without {} shows none.
std::string format(std::string_view form, const Payload* payload);

[[noreturn]] void missing_field(const std::type_info& type, std::size_t i);

// The base of every error enumeration `E`, which declares `enum Kind : std::uint8_t` and
// `static constexpr std::string_view form(Kind)`.
template <class E>
class [[nodiscard]] ErrorValue {
 public:
  ErrorValue(const ErrorValue& other) noexcept : kind_(other.kind_), payload_(other.payload_) {
    if (payload_ != nullptr) payload_->retain();
  }
  ErrorValue(ErrorValue&& other) noexcept
      : kind_(other.kind_), payload_(std::exchange(other.payload_, nullptr)) {}
  ErrorValue& operator=(const ErrorValue& other) noexcept {
    ErrorValue copy(other);
    swap(copy);
    return *this;
  }
  ErrorValue& operator=(ErrorValue&& other) noexcept {
    ErrorValue moved(std::move(other));
    swap(moved);
    return *this;
  }
  ~ErrorValue() {
    if (payload_ != nullptr && payload_->release()) delete payload_;
  }

  auto kind() const { return static_cast<typename E::Kind>(kind_); }

  // The kind's form filled with the payload.
  std::string message() const { return format(E::form(kind()), payload_); }

  // Field `i` of the payload. REQUIRES: the kind carries a T there.
  template <class T>
  const T& field(std::size_t i) const {
    if (const T* f = find_at<T>(i)) return *f;
    missing_field(typeid(T), i);
  }
  // The first field holding a T, or null; how a wrapped lower error is had back whole.
  template <class T>
  const T* find() const {
    for (std::size_t i = 0; payload_ != nullptr && i < payload_->size(); ++i) {
      if (const T* f = find_at<T>(i)) return f;
    }
    return nullptr;
  }

  friend bool operator==(const E& a, const E& b) {
    const ErrorValue& x = a;
    const ErrorValue& y = b;
    if (x.kind_ != y.kind_) return false;
    if (x.payload_ == y.payload_) return true;
    return x.payload_ != nullptr && y.payload_ != nullptr && x.payload_->equals(*y.payload_);
  }

 protected:
  using KindCode = std::uint8_t;

  // A value of `kind` whose payload holds `fields`, each as its decayed type (none: no payload).
  template <class... F>
  static E make(KindCode kind, F&&... fields) {
    static_assert(!(std::is_pointer_v<std::decay_t<F>> || ...),
                  "a field owns its value or is a std::string_view of a fixed text");
    if constexpr (sizeof...(F) == 0) {
      return E(Raw{kind, nullptr});
    } else {
      return E(Raw{kind, new FieldsPayload<std::decay_t<F>...>(std::forward<F>(fields)...)});
    }
  }

  // What a value is built from; `E(Raw{kind, nullptr})` is a kind without data.
  struct Raw {
    KindCode kind;
    const Payload* payload;  // owned by the value built from it
  };
  explicit ErrorValue(Raw raw) noexcept : kind_(raw.kind), payload_(raw.payload) {}

 private:
  template <class T>
  const T* find_at(std::size_t i) const {
    return payload_ == nullptr ? nullptr : static_cast<const T*>(payload_->field(i, typeid(T)));
  }

  void swap(ErrorValue& other) noexcept {
    std::swap(kind_, other.kind_);
    std::swap(payload_, other.payload_);
  }

  KindCode kind_;
  const Payload* payload_ = nullptr;
};

}  // namespace ostrel::errors
