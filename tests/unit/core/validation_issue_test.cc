// The Debug form of validation issues and of the issue list shown by the operations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/validation_issue.h"
#include "errors/text_form.h"

namespace ostrel::core {
namespace {

HashValue bytes(std::vector<std::uint8_t> b) { return HashValue(std::move(b)); }

TEST(ValidationIssue, DebugFormOfEveryVariant) {
  struct Case {
    ValidationIssue issue;
    std::string want;
  };
  const Case cases[] = {
      {ValidationIssue::invalid_structure("invalid grant"), R"(InvalidStructure("invalid grant"))"},
      {ValidationIssue::invalid_structure("label \"env\" repeated\n"),
       R"(InvalidStructure("label \"env\" repeated\n"))"},
      {ValidationIssue::invalid_structure(""), R"(InvalidStructure(""))"},
      {ValidationIssue::invalid_signature(core::entity::VaultRoot{}), "InvalidSignature(VaultRoot)"},
      {ValidationIssue::invalid_signature(core::entity::User{UserId(bytes({0, 17, 255}))}),
       "InvalidSignature(User { user_id: UserId(HashValue([0, 17, 255])) })"},
      {ValidationIssue::invalid_signature(core::entity::Secret{SecretId(bytes({7}))}),
       "InvalidSignature(Secret { secret_id: SecretId(HashValue([7])) })"},
      {ValidationIssue::unknown_signer_key(bytes({1, 2, 3})), "UnknownSignerKey(HashValue([1, 2, 3]))"},
      {ValidationIssue::root_not_trusted(), "RootNotTrusted"},
      {ValidationIssue::ambiguous_root(), "AmbiguousRoot"},
      {ValidationIssue::authority_did_not_converge(), "AuthorityDidNotConverge"},
      {ValidationIssue::format_version_regression(2, 1),
       "FormatVersionRegression { remembered: 2, current: 1 }"},
      {ValidationIssue::format_version_regression(UINT64_MAX, 1),
       "FormatVersionRegression { remembered: 18446744073709551615, current: 1 }"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.issue.debug(), c.want);
}

TEST(ValidationIssue, ListForm) {
  EXPECT_EQ(errors::debug_list(std::vector<ValidationIssue>{}), "[]");
  const std::vector<ValidationIssue> one = {ValidationIssue::root_not_trusted()};
  EXPECT_EQ(errors::debug_list(one), "[RootNotTrusted]");
  const std::vector<ValidationIssue> two = {ValidationIssue::invalid_structure("invalid grant"),
                                            ValidationIssue::root_not_trusted()};
  EXPECT_EQ(errors::debug_list(two), R"([InvalidStructure("invalid grant"), RootNotTrusted])");
}

TEST(ValidationIssue, PayloadsAndEquality) {
  const auto sig = ValidationIssue::invalid_signature(core::entity::Group{GroupId(bytes({4}))});
  EXPECT_EQ(sig.kind(), ValidationIssue::InvalidSignature);
  EXPECT_EQ(sig.entity_key(), core::EntityKey(core::entity::Group{GroupId(bytes({4}))}));
  EXPECT_EQ(ValidationIssue::unknown_signer_key(bytes({5})).signer_key_id(), bytes({5}));
  EXPECT_EQ(ValidationIssue::invalid_structure("m").structure_message(), "m");
  const auto regression = ValidationIssue::format_version_regression(3, 1);
  EXPECT_EQ(regression.format_versions().remembered, 3u);
  EXPECT_EQ(regression.format_versions().current, 1u);

  // Same variant with different payloads, and different variants without payload, differ.
  EXPECT_NE(ValidationIssue::invalid_structure("a"), ValidationIssue::invalid_structure("b"));
  EXPECT_NE(ValidationIssue::root_not_trusted(), ValidationIssue::ambiguous_root());
  EXPECT_NE(sig, ValidationIssue::invalid_signature(core::entity::User{UserId(bytes({4}))}));
  EXPECT_EQ(ValidationIssue::format_version_regression(2, 1),
            ValidationIssue::format_version_regression(2, 1));
}

}  // namespace
}  // namespace ostrel::core
