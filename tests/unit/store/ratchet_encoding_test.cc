// encode_ratchet_file writes each entry straight from the state and orders the set by grouping
// instead of sorting; here its bytes are held against the plain path (the state's elements made
// one by one and encoded as a canonical set) on random states of every entity kind, with bindings
// missing or of another kind, ids of several lengths, unnormalised handles and raw entries.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cord/set.h"
#include "store/ratchet_file.h"

namespace ostrel::store {
namespace {

using validate::EntityBinding;
using validate::EntityKey;
using validate::RatchetState;
using Bytes = std::vector<std::uint8_t>;

// The file as the state's elements encode when made and sorted the plain way.
cord::Result<Bytes> reference_file(const RatchetState& state) {
  OSTREL_TRY_ASSIGN(cord::Buffer set, cord::to_vec_versioned(cord::Set<core::RatchetElement>(state.to_elements())));
  const std::string magic("ostrel-ratchet\0", 15);
  Bytes out(magic.begin(), magic.end());
  out.insert(out.end(), set.begin(), set.end());
  return out;
}

struct Gen {
  std::mt19937_64 rng;

  std::size_t below(std::size_t n) { return static_cast<std::size_t>(rng() % n); }
  Bytes bytes(std::size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
  }
  // Mostly 32 bytes; sometimes shorter, so that ids of one kind differ in length and the key
  // order (bytes first) departs from the encoding's (length first).
  HashValue id() {
    static constexpr std::size_t kLengths[] = {32, 32, 32, 32, 32, 32, 0, 1, 2, 16, 31};
    // A narrow first byte makes ids share prefixes now and then.
    Bytes b = bytes(kLengths[below(std::size(kLengths))]);
    if (!b.empty()) b[0] &= 0x03;
    return HashValue(b);
  }
  std::uint64_t counter() {
    switch (below(4)) {
      case 0: return 0;
      case 1: return below(4);
      case 2: return ~std::uint64_t{0} - below(2);
      default: return rng();
    }
  }
  std::string text() {
    static const char* const kTexts[] = {"", "a", "alice", "b", "e\xcc\x81", "\xc3\xa9", "prod", "zz-top"};
    return kTexts[below(std::size(kTexts))];
  }
  core::SecretSelectorV1 selector() {
    core::SecretSelectorV1 sel;
    for (std::size_t i = below(4); i > 0; --i) sel.tuple.emplace_back(text());
    for (std::size_t i = below(3); i > 0; --i) sel.labels.push_back({cord::Text(text()), cord::Text(text())});
    return sel;
  }
  EntityKey key() {
    switch (below(9)) {
      case 0: return core::entity::VaultRoot{};
      case 1: return core::entity::EntryPoint{UserId(id())};
      case 2: return core::entity::User{UserId(id())};
      case 3: return core::entity::UserHandle{UserHandleId(id())};
      case 4: return core::entity::Group{GroupId(id())};
      case 5: return core::entity::GroupMember{GroupMemberId(id())};
      case 6: return core::entity::Grant{GrantId(id())};
      case 7: return core::entity::Secret{SecretId(id())};
      default: return core::entity::VaultHandle{VaultHandleId(id())};
    }
  }
  // A binding of any kind: one of the key's own kind is written, another kind is written as none.
  EntityBinding binding() {
    switch (below(4)) {
      case 0: return validate::binding::UserHandle{text()};
      case 1: return validate::binding::VaultHandle{text()};
      case 2: return core::GroupMemberIdInputV1{GroupId(id()), below(2) ? core::PrincipalRefV1(UserId(id()))
                                                                          : core::PrincipalRefV1(GroupId(id()))};
      default: return selector();
    }
  }

  RatchetState state(std::size_t entries, std::size_t raws) {
    RatchetState s = RatchetState::fresh(id());
    for (std::size_t i = 0; i < entries; ++i) {
      const EntityKey k = key();
      s.counters.insert_or_assign(k, counter());
      if (below(3) != 0) s.bindings.insert_or_assign(k, binding());
    }
    s.format_version = below(2) ? 0 : counter();
    for (std::size_t i = 0; i < raws; ++i) {
      // Unknown variant indexes, and now and then bytes shaped like a known entry's.
      Bytes raw = bytes(4 + (below(3) ? below(6) : 44));
      raw[0] = raw[1] = raw[2] = 0;
      raw[3] = below(4) ? static_cast<std::uint8_t>(10 + below(3)) : 0;
      if (std::find(s.raw_records.begin(), s.raw_records.end(), raw) == s.raw_records.end()) s.raw_records.push_back(raw);
    }
    return s;
  }
};

TEST(RatchetFileEncoding, MatchesThePlainEncodingOnRandomStates) {
  Gen gen{std::mt19937_64(20261211)};
  struct Size {
    std::size_t entries, raws, states;
  };
  const Size sizes[] = {{0, 0, 20}, {1, 1, 50}, {8, 3, 200}, {60, 5, 200}, {3000, 20, 3}};
  std::size_t compared = 0;
  for (const Size& size : sizes) {
    for (std::size_t n = 0; n < size.states; ++n) {
      const RatchetState state = gen.state(size.entries, size.raws);
      auto want = reference_file(state);
      auto got = encode_ratchet_file(state);
      ASSERT_EQ(got.has_value(), want.has_value()) << "entries " << size.entries << " state " << n;
      if (!want) continue;
      ASSERT_EQ(Bytes(got->begin(), got->end()), *want) << "entries " << size.entries << " state " << n;
      ++compared;
    }
  }
  EXPECT_GT(compared, 400u);
}

TEST(RatchetFileEncoding, RefusesWhatThePlainEncodingRefuses) {
  Gen gen{std::mt19937_64(7)};
  RatchetState duplicate_raw = gen.state(40, 2);
  duplicate_raw.raw_records.push_back(Bytes{0, 0, 0, 12, 1});
  duplicate_raw.raw_records.push_back(Bytes{0, 0, 0, 12, 1});
  RatchetState bad_handle = gen.state(40, 0);
  const EntityKey k = core::entity::UserHandle{UserHandleId(gen.id())};
  bad_handle.counters.insert_or_assign(k, 1);
  bad_handle.bindings.insert_or_assign(k, validate::binding::UserHandle{std::string("\xff")});
  for (const RatchetState* state : {&duplicate_raw, &bad_handle}) {
    auto want = reference_file(*state);
    ASSERT_FALSE(want.has_value());
    auto got = encode_ratchet_file(*state);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().message(), StoreError::from_cord(want.error()).message());
  }
}

}  // namespace
}  // namespace ostrel::store
