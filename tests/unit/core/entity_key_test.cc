// EntityKey's order and the number that decides most of it.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/entity_key.h"

namespace ostrel::core {
namespace {

// Keys of every kind with short ids drawn from two byte values, so that many share their leading
// bytes and the prefix number leaves the order to the full comparison.
std::vector<EntityKey> some_keys() {
  std::mt19937 rng(7);
  std::vector<EntityKey> keys = {entity::VaultRoot{}};
  auto id = [&] {
    std::vector<std::uint8_t> bytes(rng() % 10);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng() % 2 == 0 ? 0x00 : 0xff);
    return HashValue(bytes);
  };
  for (int i = 0; i < 60; ++i) {
    switch (rng() % 8) {
      case 0: keys.push_back(entity::EntryPoint{UserId(id())}); break;
      case 1: keys.push_back(entity::User{UserId(id())}); break;
      case 2: keys.push_back(entity::UserHandle{UserHandleId(id())}); break;
      case 3: keys.push_back(entity::Group{GroupId(id())}); break;
      case 4: keys.push_back(entity::GroupMember{GroupMemberId(id())}); break;
      case 5: keys.push_back(entity::Grant{GrantId(id())}); break;
      case 6: keys.push_back(entity::Secret{SecretId(id())}); break;
      default: keys.push_back(entity::VaultHandle{VaultHandleId(id())}); break;
    }
  }
  return keys;
}

TEST(EntityKey, OrderPrefixAgreesWithTheOrder) {
  const std::vector<EntityKey> keys = some_keys();
  for (const EntityKey& a : keys) {
    for (const EntityKey& b : keys) {
      if (a.order_prefix() < b.order_prefix()) {
        EXPECT_LT(a, b) << a.debug() << " / " << b.debug();
      }
      if (a < b) {
        EXPECT_LE(a.order_prefix(), b.order_prefix()) << a.debug() << " / " << b.debug();
      }
    }
  }
}

TEST(EntityKey, IdIsTheKeysIdentifier) {
  EXPECT_EQ(EntityKey(entity::VaultRoot{}).id(), nullptr);
  const EntityKey k = entity::Grant{GrantId(HashValue(std::vector<std::uint8_t>{1, 2, 3}))};
  ASSERT_NE(k.id(), nullptr);
  EXPECT_EQ(*k.id(), HashValue(std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(k.order_prefix(), (std::uint64_t{6} << 56) | (std::uint64_t{0x010203} << 32));
}

}  // namespace
}  // namespace ostrel::core
