// HKDF-SHA256 against RFC 5869, and the labeled forms and DeriveKeyPair against RFC 9180 A.2.1
// (DHKEM(X25519, HKDF-SHA256), HKDF-SHA256, ChaCha20Poly1305).
#include <gtest/gtest.h>

#include <string>

#include "crypto/hkdf.h"
#include "support/hex.h"
#include "unit/crypto/secret_hex.h"

namespace ostrel::crypto {
namespace {

using testing::from_hex;
using testing::secret_hex;
using testing::to_hex;

template <std::size_t L>
std::string expand_hex(const platform::SecretArray<32>& prk, std::span<const std::uint8_t> info) {
  return secret_hex(hkdf_expand<L>(prk, info));
}

// RFC 5869 appendix A, test cases 1 to 3.
TEST(Hkdf, Rfc5869) {
  struct Case {
    const char* name;
    std::string ikm, salt, info;
    std::string (*expand)(const platform::SecretArray<32>&, std::span<const std::uint8_t>);
    const char* prk;
    const char* okm;
  };
  std::string ikm2, salt2, info2;
  for (int i = 0x00; i < 0x50; ++i) ikm2 += to_hex(std::vector<std::uint8_t>{static_cast<std::uint8_t>(i)});
  for (int i = 0x60; i < 0xb0; ++i) salt2 += to_hex(std::vector<std::uint8_t>{static_cast<std::uint8_t>(i)});
  for (int i = 0xb0; i < 0x100; ++i) info2 += to_hex(std::vector<std::uint8_t>{static_cast<std::uint8_t>(i)});
  const Case cases[] = {
      {"case 1: partial last block", "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "000102030405060708090a0b0c",
       "f0f1f2f3f4f5f6f7f8f9", &expand_hex<42>,
       "077709362c2e32df0ddc3f0dc47bba6390b6c73bb50f9c3122ec844ad7c2b3e5",
       "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
      {"case 1 cut at one whole block", "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b",
       "000102030405060708090a0b0c", "f0f1f2f3f4f5f6f7f8f9", &expand_hex<32>,
       "077709362c2e32df0ddc3f0dc47bba6390b6c73bb50f9c3122ec844ad7c2b3e5",
       "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf"},
      {"case 2: long inputs, three blocks", ikm2, salt2, info2, &expand_hex<82>,
       "06a6b88c5853361a06104c9ceb35b45cef760014904671014a193f40c15fc244",
       "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c"
       "59045a99cac7827271cb41c65e590e09da3275600c2f09b8367793a9aca3db71"
       "cc30c58179ec3e87c14c01d5c1f3434f1d87"},
      {"case 3: empty salt and info", "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "", "", &expand_hex<42>,
       "19ef24a32c717b167f33a91d6f648bdf96596776afdb6377ac434c1c293ccb04",
       "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto prk = hkdf_extract(from_hex(c.salt), from_hex(c.ikm));
    EXPECT_EQ(secret_hex(prk), c.prk);
    EXPECT_EQ(c.expand(prk, from_hex(c.info)), c.okm);
  }
}

TEST(Hkdf, EmptySaltActsAsZeroKey) {
  const auto ikm = from_hex("0b0b0b0b");
  EXPECT_EQ(secret_hex(hkdf_extract({}, ikm)),
            secret_hex(hkdf_extract(std::vector<std::uint8_t>(32, 0), ikm)));
}

TEST(HkdfLabeled, SuiteIds) {
  EXPECT_EQ(to_hex(kKemSuiteId), "4b454d0020");                 // "KEM" || 0x0020
  EXPECT_EQ(to_hex(kHpkeSuiteId), "48504b45002000010003");      // "HPKE" || 0x0020 0x0001 0x0003
}

// RFC 9180 A.2.1: the key schedule context is mode || psk_id_hash || info_hash, each hash a
// LabeledExtract with an empty salt under the HPKE suite id.
TEST(HkdfLabeled, ExtractGivesTheKeyScheduleHashes) {
  const auto info = from_hex("4f6465206f6e2061204772656369616e2055726e");
  EXPECT_EQ(secret_hex(labeled_extract(kHpkeSuiteId, {}, "psk_id_hash", {})),
            "431df6cd95e11ff49d7013563baf7f11588c75a6611ee2a4404a49306ae4cfc5");
  EXPECT_EQ(secret_hex(labeled_extract(kHpkeSuiteId, {}, "info_hash", info)),
            "b69c5718a60cc5876c358d3f7fc31ddb598503f67be58ea1e798c0bb19eb9796");
  // The suite id and label take part: other ones give other values.
  EXPECT_NE(secret_hex(labeled_extract(kKemSuiteId, {}, "info_hash", info)),
            secret_hex(labeled_extract(kHpkeSuiteId, {}, "info_hash", info)));
  EXPECT_NE(secret_hex(labeled_extract(kHpkeSuiteId, {}, "info_hasH", info)),
            secret_hex(labeled_extract(kHpkeSuiteId, {}, "info_hash", info)));
}

TEST(HkdfLabeled, ExpandLengthIsPartOfTheInfo) {
  const auto prk = hkdf_extract({}, from_hex("01"));
  const std::string k32 = secret_hex(labeled_expand<32>(kHpkeSuiteId, prk, "key", {}));
  const std::string k12 = secret_hex(labeled_expand<12>(kHpkeSuiteId, prk, "key", {}));
  EXPECT_NE(k32.substr(0, 24), k12);
}

// RFC 9180 A.2.1: DeriveKeyPair of ikmE and ikmR.
TEST(DeriveKeyPair, Rfc9180) {
  struct Case {
    const char* name;
    const char* ikm;
    const char* sk;
    const char* pk;
  };
  const Case cases[] = {
      {"ephemeral", "909a9b35d3dc4713a5e72a4da274b55d3d3821a37e5d099e74a647db583a904b",
       "f4ec9b33b792c372c1d2c2063507b684ef925b8c75a42dbcbf57d63ccd381600",
       "1afa08d3dec047a643885163f1180476fa7ddb54c6a8029ea33f95796bf2ac4a"},
      {"recipient", "1ac01f181fdf9f352797655161c58b75c656a6cc2716dcb66372da835542e1df",
       "8057991eef8f1f1af18f4a9491d16a1ce333f695d4db8e38da75975c4478e0fb",
       "4310ee97d88cc1f088a5576c77ab0cf5c3ac797f3d95139c6c84b5429c59662a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const X25519KeyPair pair = derive_x25519_key_pair(from_hex(c.ikm));
    EXPECT_EQ(secret_hex(pair.private_key), c.sk);
    EXPECT_EQ(to_hex(pair.public_key), c.pk);
  }
}

}  // namespace
}  // namespace ostrel::crypto
