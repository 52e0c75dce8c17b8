// ValidationIssue: one thing found wrong while validating a vault's records. Validation reports
// rather than refuses, so a state carries a list of these; the operations print the list in their
// validation error. Plain values; safe to copy and to pass between threads.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "core/entity_key.h"
#include "ids/identifiers.h"

namespace ostrel::core {

class ValidationIssue {
 public:
  // The variants in declaration order.
  enum Kind : std::uint8_t {
    InvalidStructure = 0,
    InvalidSignature = 1,
    UnknownSignerKey = 2,
    RootNotTrusted = 3,
    AmbiguousRoot = 4,
    AuthorityDidNotConverge = 5,
    FormatVersionRegression = 6,
  };

  // The remembered vault format version is newer than the one this system writes.
  struct FormatVersions {
    std::uint64_t remembered = 0;
    std::uint64_t current = 0;
    friend bool operator==(const FormatVersions&, const FormatVersions&) = default;
  };

  // A record failed its structure check; `message` is the check's message.
  static ValidationIssue invalid_structure(std::string message) {
    return ValidationIssue(InvalidStructure, std::move(message));
  }
  // A record's signature does not verify; `key` is the entity the record concerned.
  static ValidationIssue invalid_signature(EntityKey key) {
    return ValidationIssue(InvalidSignature, std::move(key));
  }
  // A record is signed by a key no accepted user owns; `key_id` is that key's key id.
  static ValidationIssue unknown_signer_key(HashValue key_id) {
    return ValidationIssue(UnknownSignerKey, std::move(key_id));
  }
  static ValidationIssue root_not_trusted() { return ValidationIssue(RootNotTrusted, {}); }
  static ValidationIssue ambiguous_root() { return ValidationIssue(AmbiguousRoot, {}); }
  static ValidationIssue authority_did_not_converge() {
    return ValidationIssue(AuthorityDidNotConverge, {});
  }
  static ValidationIssue format_version_regression(std::uint64_t remembered, std::uint64_t current) {
    return ValidationIssue(FormatVersionRegression, FormatVersions{remembered, current});
  }

  Kind kind() const { return kind_; }
  // REQUIRES: kind() == InvalidStructure.
  const std::string& structure_message() const { return std::get<std::string>(payload_); }
  // REQUIRES: kind() == InvalidSignature.
  const EntityKey& entity_key() const { return std::get<EntityKey>(payload_); }
  // REQUIRES: kind() == UnknownSignerKey.
  const HashValue& signer_key_id() const { return std::get<HashValue>(payload_); }
  // REQUIRES: kind() == FormatVersionRegression.
  const FormatVersions& format_versions() const { return std::get<FormatVersions>(payload_); }

  // The Debug form: the variant's name, then its payload: InvalidStructure("invalid grant"),
  // InvalidSignature(VaultRoot), UnknownSignerKey(HashValue([...])), RootNotTrusted,
  // FormatVersionRegression { remembered: 2, current: 1 }. A list of issues prints through
  // errors::debug_list.
  std::string debug() const;

  friend bool operator==(const ValidationIssue&, const ValidationIssue&) = default;

 private:
  using Payload = std::variant<std::monostate, std::string, EntityKey, HashValue, FormatVersions>;

  ValidationIssue(Kind kind, Payload payload) : kind_(kind), payload_(std::move(payload)) {}

  Kind kind_;
  Payload payload_;
};

}  // namespace ostrel::core
