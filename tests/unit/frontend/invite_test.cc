// Invitations: the text form (Bech32m and Bech32, prefix and case rules, white space, the length
// limit), the byte form behind its magic, the payload's decoding failures, the canonical forms,
// and the invitation named by the environment.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "cord/codec.h"
#include "frontend/invite/bech32.h"
#include "frontend/invite/environment.h"
#include "frontend/invite/parse.h"
#include "frontend/invite/text_form.h"
#include "keychain/identity.h"
#include "support/identities.h"
#include "support/scratch.h"

namespace ostrel::frontend::invite {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ScopedEnv;
using testing::ScratchDir;

platform::SecretBytes seed_of(std::size_t length) {
  Bytes seed(length);
  for (std::size_t i = 0; i < length; ++i) seed[i] = static_cast<std::uint8_t>(i);
  return platform::SecretBytes::copy_of(seed);
}

HashValue root_of(std::size_t length, std::uint8_t fill = 0xab) { return HashValue(Bytes(length, fill)); }

core::RatchetBaselineV1 full_baseline() {
  core::RatchetBaselineV1 b;
  b.records.push_back(core::RatchetRecordV1::format_version(1));
  b.records.push_back(core::UserRatchetRecordV1{UserId(HashValue(Bytes(32, 7))), 3});
  b.records.push_back(core::UserHandleRatchetRecordV1{UserHandleId(HashValue(Bytes(32, 8))), 2, "alice"});
  b.records.push_back(core::TrustedRootRatchetRecordV1{root_of(32)});
  return b;
}

core::Invite invite_v1(std::size_t seed_length = 32, std::size_t root_length = 32) {
  return core::InviteV1{seed_of(seed_length), root_of(root_length), full_baseline()};
}

cord::Buffer payload_of(const core::Invite& invite) { return cord::to_vec(invite).value(); }

// The text of a payload under any prefix and checksum, written without the front end's checks.
std::string text_of(std::span<const std::uint8_t> payload, std::string_view prefix = "ostr",
                    Bech32Encoding encoding = Bech32Encoding::Bech32m) {
  return bech32_encode(prefix, bytes_to_groups(payload), encoding);
}

std::string upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

Bytes with_magic(std::span<const std::uint8_t> payload) {
  Bytes out;
  out.reserve(kMagic.size() + payload.size());
  for (char c : kMagic) out.push_back(static_cast<std::uint8_t>(c));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

// An invitation's canonical bytes, so two decodings can be compared without comparing seeds
// through a copyable type.
Bytes canonical(const core::Invite& invite) {
  const cord::Buffer p = payload_of(invite);
  return Bytes(p.begin(), p.end());
}

constexpr const char* kMalformed = "invitation string is malformed or has a bad checksum";

struct TextCase {
  const char* name;
  std::string text;
  std::optional<Bytes> want;  // the decoded invitation's canonical bytes; nothing: an error
  std::string error;          // the error's message when `want` is empty
};

TEST(InviteText, DecodingTable) {
  const Bytes v1 = canonical(invite_v1());
  const cord::Buffer p1 = payload_of(invite_v1());
  const std::string canonical_text = text_of(p1);
  std::string bad_checksum = canonical_text;
  bad_checksum[20] = bad_checksum[20] == 'q' ? 'p' : 'q';
  std::string mixed = canonical_text;
  mixed[30] = static_cast<char>(mixed[30] >= 'a' && mixed[30] <= 'z' ? mixed[30] - 'a' + 'A' : mixed[30]);
  if (mixed == canonical_text) mixed[0] = 'O';
  std::string inner_space = canonical_text;
  inner_space.insert(40, " ");

  // A payload of 632 bytes makes a text of exactly 1023 characters, one of 633 bytes 1024.
  const core::Invite long_ok = core::InviteV1{seed_of(32), root_of(584), core::RatchetBaselineV1{}};
  const core::Invite long_bad = core::InviteV1{seed_of(32), root_of(585), core::RatchetBaselineV1{}};
  const std::string text_1023 = text_of(payload_of(long_ok));
  const std::string text_1024 = text_of(payload_of(long_bad));
  ASSERT_EQ(text_1023.size(), 1023u);
  ASSERT_EQ(text_1024.size(), 1024u);

  cord::Buffer trailing = p1;
  trailing.push_back(0);
  cord::Buffer unknown_variant = p1;
  unknown_variant[3] = 2;
  const cord::Buffer v2_none = payload_of(core::InviteV2{seed_of(32), root_of(32), std::nullopt});
  cord::Buffer bad_tag = v2_none;
  bad_tag.back() = 2;
  cord::Buffer unknown_kind = payload_of(core::InviteV1{seed_of(32), root_of(32), core::RatchetBaselineV1{{core::RatchetRecordV1::format_version(5)}}});
  unknown_kind[unknown_kind.size() - 9] = 10;  // the record's variant index 8 becomes 10
  const Bytes magic_payload = with_magic(p1);

  const TextCase cases[] = {
      {"canonical Bech32m", canonical_text, v1, ""},
      {"Bech32 checksum of the same data", text_of(p1, "ostr", Bech32Encoding::Bech32), v1, ""},
      {"surrounding Unicode white space", "\xE3\x80\x80\t " + canonical_text + "\n\xE2\x80\xA9\xC2\x85", v1, ""},
      {"space inside", inner_space, std::nullopt, kMalformed},
      {"bad checksum", bad_checksum, std::nullopt, kMalformed},
      {"mixed case", mixed, std::nullopt, kMalformed},
      {"all upper case names its prefix", upper(canonical_text), std::nullopt,
       "not the expected Ostrel invitation (prefix \"OSTR\"; invitations are ostr1\xE2\x80\xA6)"},
      {"wrong prefix, valid checksum", text_of(p1, "abc"), std::nullopt,
       "not the expected Ostrel invitation (prefix \"abc\"; invitations are ostr1\xE2\x80\xA6)"},
      {"prefix holding a 1 is split at the last 1", text_of(p1, "o1str"), std::nullopt,
       "not the expected Ostrel invitation (prefix \"o1str\"; invitations are ostr1\xE2\x80\xA6)"},
      {"prefix with a quote is shown quoted", text_of(p1, "o\"s"), std::nullopt,
       "not the expected Ostrel invitation (prefix \"o\\\"s\"; invitations are ostr1\xE2\x80\xA6)"},
      {"1023 characters", text_1023, canonical(long_ok), ""},
      {"1023 characters and surrounding spaces", "  " + text_1023 + "  ", canonical(long_ok), ""},
      {"1024 characters, correct checksum", text_1024, std::nullopt, kMalformed},
      {"empty text", "", std::nullopt, kMalformed},
      {"white space only", " \t\xE3\x80\x80", std::nullopt, kMalformed},
      {"no separator", "ostrqqqqqqqq", std::nullopt, kMalformed},
      {"too short after the separator", "ostr1qqqqq", std::nullopt, kMalformed},
      {"trailing byte in the payload", text_of(trailing), std::nullopt, "Cord error: Trailing bytes after deserialization"},
      {"unknown variant", text_of(unknown_variant), std::nullopt,
       "Cord error: Cord encountered unknown enum variant index 2"},
      {"bad option tag", text_of(bad_tag), std::nullopt, "Cord error: Cord could not validate: Invalid option variant"},
      {"baseline with an unknown ratchet kind", text_of(unknown_kind), std::nullopt,
       "Cord error: Cord encountered unknown enum variant index 10"},
      {"the text form carries no magic", text_of(magic_payload), std::nullopt,
       "Cord error: Cord encountered unknown enum variant index 1869837426"},
      {"truncated payload", text_of(std::span(p1).first(p1.size() - 1)), std::nullopt, "Cord error: Unexpected end of input"},
      {"V2 without a baseline", text_of(v2_none), Bytes(v2_none.begin(), v2_none.end()), ""},
      {"seed of another length still decodes", text_of(payload_of(invite_v1(16))), canonical(invite_v1(16)), ""},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = parse(c.text, std::nullopt);
    if (c.want) {
      ASSERT_TRUE(got) << got.error().message();
      EXPECT_EQ(canonical(*got), *c.want);
    } else {
      ASSERT_FALSE(got);
      EXPECT_EQ(got.error().message(), c.error);
    }
  }
}

TEST(InviteText, KindsOfTheTextFailures) {
  const std::string text = text_of(payload_of(invite_v1()));
  EXPECT_EQ(decode_text(upper(text)).error().kind(), FrontendError::InvitePrefix);
  EXPECT_EQ(decode_text(upper(text)).error().prefix(), "OSTR");
  EXPECT_EQ(decode_text(text.substr(1)).error().kind(), FrontendError::InviteMalformed) << "the prefix is checksummed";
  EXPECT_EQ(decode_text(text + "q").error().kind(), FrontendError::InviteMalformed);
  auto trailing = parse(text_of(with_magic(payload_of(invite_v1()))), std::nullopt);
  EXPECT_EQ(trailing.error().kind(), FrontendError::Cord);
  EXPECT_EQ(trailing.error().cord_error().kind(), cord::Error::UnknownVariant);
}

TEST(InviteText, LeftoverBitsAreDroppedUnchecked) {
  // Three payload bytes take five groups with one bit to spare; setting it changes nothing.
  const cord::Buffer payload = payload_of(invite_v1());
  Groups groups = bytes_to_groups(payload);
  ASSERT_NE(payload.size() * 8 % 5, 0u);
  groups.back() |= 1;
  auto got = decode_text(bech32_encode("ostr", groups, Bech32Encoding::Bech32m));
  ASSERT_TRUE(got) << got.error().message();
  EXPECT_EQ(*got, payload);
}

TEST(InviteText, CanonicalTextAndItsLimit) {
  const core::Invite invite = invite_v1();
  auto text = to_text(invite);
  ASSERT_TRUE(text) << text.error().message();
  EXPECT_EQ(text->rfind("ostr1", 0), 0u);
  EXPECT_EQ(*text, text_of(payload_of(invite)));  // lower case, Bech32m
  auto back = parse(*text, std::nullopt);
  ASSERT_TRUE(back);
  EXPECT_EQ(canonical(*back), canonical(invite));

  // Both checksums and either case decode to what the canonical text writes.
  auto from_bech32 = parse(upper(text_of(payload_of(invite), "ostr", Bech32Encoding::Bech32)), std::nullopt);
  EXPECT_EQ(from_bech32.error().kind(), FrontendError::InvitePrefix);
  auto lower_bech32 = parse(text_of(payload_of(invite), "ostr", Bech32Encoding::Bech32), std::nullopt);
  ASSERT_TRUE(lower_bech32);
  EXPECT_EQ(to_text(*lower_bech32).value(), *text);

  const core::Invite at_limit = core::InviteV1{seed_of(32), root_of(584), core::RatchetBaselineV1{}};
  EXPECT_EQ(to_text(at_limit).value().size(), 1023u);
  const core::Invite over = core::InviteV1{seed_of(32), root_of(585), core::RatchetBaselineV1{}};
  EXPECT_EQ(to_text(over).error().message(), "invitation is too large to display as text; use --invite-file instead");
}

TEST(InviteBytes, DecodingTable) {
  const cord::Buffer p1 = payload_of(invite_v1());
  const Bytes v1 = canonical(invite_v1());
  Bytes trailing = with_magic(p1);
  trailing.push_back(0);
  Bytes wrong_magic = with_magic(p1);
  wrong_magic[13] = '!';
  const Bytes magic_only(kMagic.begin(), kMagic.end());
  const cord::Buffer v2_full = payload_of(core::InviteV2{seed_of(32), root_of(32), full_baseline()});
  const cord::Buffer v2_empty = payload_of(core::InviteV2{seed_of(32), root_of(32), core::RatchetBaselineV1{}});

  struct Case {
    const char* name;
    Bytes bytes;
    std::optional<Bytes> want;
    std::string error;
  };
  const Case cases[] = {
      {"V1 with a full baseline", with_magic(p1), v1, ""},
      {"V2 with a full baseline", with_magic(v2_full), Bytes(v2_full.begin(), v2_full.end()), ""},
      {"V2 with an empty baseline", with_magic(v2_empty), Bytes(v2_empty.begin(), v2_empty.end()), ""},
      {"trailing byte", trailing, std::nullopt, "Cord error: Trailing bytes after deserialization"},
      {"truncated", with_magic(std::span(p1).first(p1.size() - 1)), std::nullopt, "Cord error: Unexpected end of input"},
      {"exactly the magic", magic_only, std::nullopt, "Cord error: Unexpected end of input"},
      {"shorter than the magic", Bytes(kMagic.begin(), kMagic.end() - 1), std::nullopt, kMalformed},
      {"empty", Bytes{}, std::nullopt, kMalformed},
      {"another magic", wrong_magic, std::nullopt, kMalformed},
      {"the text form is no byte form", testing::bytes(text_of(p1)), std::nullopt, kMalformed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = parse_file_bytes(c.bytes);
    if (c.want) {
      ASSERT_TRUE(got) << got.error().message();
      EXPECT_EQ(canonical(*got), *c.want);
      const cord::Buffer again = to_file_bytes(*got).value();
      EXPECT_EQ(Bytes(again.begin(), again.end()), c.bytes);
    } else {
      ASSERT_FALSE(got);
      EXPECT_EQ(got.error().message(), c.error);
    }
  }
}

TEST(InviteBytes, FieldsAndBaselineOfEachVersion) {
  auto v1 = parse_file_bytes(to_file_bytes(invite_v1(16, 3)).value());
  ASSERT_TRUE(v1);
  EXPECT_EQ(v1->index(), 0u);
  EXPECT_EQ(v1->seed().size(), 16u);
  EXPECT_EQ(v1->root(), root_of(3));
  ASSERT_NE(v1->baseline(), nullptr);
  EXPECT_EQ(*v1->baseline(), full_baseline());

  auto v2 = parse_file_bytes(to_file_bytes(core::InviteV2{seed_of(32), root_of(32), std::nullopt}).value());
  ASSERT_TRUE(v2);
  EXPECT_EQ(v2->index(), 1u);
  EXPECT_EQ(v2->baseline(), nullptr);
}

TEST(InviteFile, ReadThroughTheBoundedReader) {
  ScratchDir d;
  const cord::Buffer bytes = to_file_bytes(invite_v1()).value();
  testing::write_file(d / "i.invite", std::string(bytes.begin(), bytes.end()));
  auto got = parse(std::nullopt, d / "i.invite");
  ASSERT_TRUE(got) << got.error().message();
  EXPECT_EQ(canonical(*got), canonical(invite_v1()));

  auto missing = parse(std::nullopt, d / "missing");
  EXPECT_EQ(missing.error().kind(), FrontendError::IoAt);
  EXPECT_EQ(missing.error().message(), "I/O error at " + (d / "missing").string() + ": No such file or directory (os error 2)");
  EXPECT_EQ(parse(std::nullopt, d.path()).error().message(), "I/O error at " + d.path().string() + ": not a regular file");

  // One byte over the maximum, refused from its size without reading the holes.
  const std::filesystem::path big = d / "big.invite";
  const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kMaxFileBytes + 1)), 0);
  ::close(fd);
  EXPECT_EQ(parse(std::nullopt, big).error().message(),
            "I/O error at " + big.string() + ": file is 269484033 bytes, above the supported maximum of 269484032");

  EXPECT_EQ(parse(std::nullopt, std::nullopt).error().message(), "pass exactly one of the string or file form");
  EXPECT_EQ(parse("x", d / "i.invite").error().kind(), FrontendError::InviteSourceCount);
}

TEST(InviteEnvironment, VariableRules) {
  ScratchDir d;
  const std::string text = to_text(invite_v1()).value();
  const cord::Buffer bytes = to_file_bytes(invite_v1()).value();
  testing::write_file(d / "i.invite", std::string(bytes.begin(), bytes.end()));
  const std::string file = (d / "i.invite").string();
  const std::string short_seed = to_text(invite_v1(16)).value();
  const UserId want_user = keychain::user_id_from_seed(invite_v1().seed().span()).value().user_id;

  struct Case {
    const char* name;
    std::optional<std::string> text_variable;
    std::optional<std::string> file_variable;
    bool want_invite;        // from_environment gives an invitation
    std::string error;       // from_environment's error, empty for none
    std::string user_error;  // default_user_from_environment's error where it differs
  };
  const Case cases[] = {
      {"neither set", std::nullopt, std::nullopt, false, "", ""},
      {"text set", text, std::nullopt, true, "", ""},
      {"text with surrounding spaces", "\n" + text + " ", std::nullopt, true, "", ""},
      {"file set", std::nullopt, file, true, "", ""},
      {"both set", text, file, false, "pass exactly one of the string or file form", ""},
      {"text not UTF-8, file set too", std::string("ostr1\xFF"), file, false,
       "environment variable OSTREL_UNSAFE_INVITE must be valid UTF-8", ""},
      {"empty text counts as set", std::string(), std::nullopt, false, kMalformed, ""},
      {"empty file name counts as set", std::nullopt, std::string(), false,
       "I/O error at : No such file or directory (os error 2)", ""},
      {"missing file", std::nullopt, file + ".gone", false,
       "I/O error at " + file + ".gone: No such file or directory (os error 2)", ""},
      {"seed the keychain cannot derive", short_seed, std::nullopt, true, "",
       "crypto error: invalid byte length for identity master seed: expected 32, got 16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv text_env(kInviteVariable, c.text_variable);
    ScopedEnv file_env(kInviteFileVariable, c.file_variable);
    auto invite = from_environment();
    auto user = default_user_from_environment();
    if (!c.error.empty()) {
      ASSERT_FALSE(invite);
      EXPECT_EQ(invite.error().message(), c.error);
      ASSERT_FALSE(user);
      EXPECT_EQ(user.error().message(), c.error);
      continue;
    }
    ASSERT_TRUE(invite) << invite.error().message();
    EXPECT_EQ(invite->has_value(), c.want_invite);
    if (!c.user_error.empty()) {
      ASSERT_FALSE(user);
      EXPECT_EQ(user.error().kind(), FrontendError::Keychain);
      EXPECT_EQ(user.error().message(), c.user_error);
      continue;
    }
    ASSERT_TRUE(user) << user.error().message();
    if (c.want_invite) {
      EXPECT_EQ(canonical(**invite), canonical(invite_v1()));
      ASSERT_TRUE(user->has_value());
      EXPECT_EQ(**user, want_user);
    } else {
      EXPECT_FALSE(user->has_value());
    }
  }
}

}  // namespace
}  // namespace ostrel::frontend::invite
