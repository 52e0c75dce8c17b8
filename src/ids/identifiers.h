// HashValue and the identifier types that wrap it: plain values carried by records, by state and
// by error payloads alike, so they sit below everything that carries them, errors included. Their
// derivations are core functions (core/ids.h). Safe from any thread.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "ids/id_bytes.h"
#include "platform/keyed_hash.h"

namespace ostrel {

// An owned byte string: a 32-byte digest when made by the domain hash, held inline; decoding
// accepts any length. Equality and order are those of the bytes (a proper prefix first).
struct HashValue {
  IdBytes bytes;

  HashValue() = default;
  explicit HashValue(const std::vector<std::uint8_t>& b) : bytes(std::span<const std::uint8_t>(b)) {}
  explicit HashValue(std::span<const std::uint8_t> b) : bytes(b) {}

  static auto cord_fields(auto& s) { return std::tie(s.bytes); }
  friend bool operator==(const HashValue&, const HashValue&) = default;
  friend auto operator<=>(const HashValue&, const HashValue&) = default;

  // HashValue([0, 17, 255])
  std::string debug() const;
};

// One distinct type per kind of identifier; each holds one HashValue and adds nothing.
#define OSTREL_DEFINE_ID(Name)                                                             \
  struct Name {                                                                            \
    HashValue value;                                                                       \
    Name() = default;                                                                      \
    explicit Name(HashValue v) : value(std::move(v)) {}                                    \
    static auto cord_fields(auto& s) { return std::tie(s.value); }                         \
    friend bool operator==(const Name&, const Name&) = default;                            \
    friend auto operator<=>(const Name&, const Name&) = default;                           \
    /* Name(HashValue([...])) */                                                           \
    std::string debug() const { return #Name "(" + value.debug() + ")"; }                  \
  }

OSTREL_DEFINE_ID(UserId);
OSTREL_DEFINE_ID(GroupId);
OSTREL_DEFINE_ID(GrantId);
OSTREL_DEFINE_ID(SecretId);
OSTREL_DEFINE_ID(GroupMemberId);
OSTREL_DEFINE_ID(UserHandleId);
OSTREL_DEFINE_ID(VaultHandleId);

#undef OSTREL_DEFINE_ID

// The random seed from which a group's or grant's identifier is derived.
struct IdSeed {
  IdBytes bytes;
  static auto cord_fields(auto& s) { return std::tie(s.bytes); }
  friend bool operator==(const IdSeed&, const IdSeed&) = default;
  friend auto operator<=>(const IdSeed&, const IdSeed&) = default;
  std::string debug() const;
};

}  // namespace ostrel

template <>
struct std::hash<ostrel::HashValue> {
  std::size_t operator()(const ostrel::HashValue& h) const { return ostrel::platform::hash_bytes(h.bytes); }
};
#define OSTREL_ID_HASH(Name)                                                                    \
  template <>                                                                                   \
  struct std::hash<ostrel::Name> {                                                              \
    std::size_t operator()(const ostrel::Name& id) const { return ostrel::platform::hash_bytes(id.value.bytes); } \
  }
OSTREL_ID_HASH(UserId);
OSTREL_ID_HASH(GroupId);
OSTREL_ID_HASH(GrantId);
OSTREL_ID_HASH(SecretId);
OSTREL_ID_HASH(GroupMemberId);
OSTREL_ID_HASH(UserHandleId);
OSTREL_ID_HASH(VaultHandleId);
#undef OSTREL_ID_HASH
