// What one unlock is for: the UnlockPurpose a prompt ends with, its texts, and whether it only
// reads. Plain values and pure functions; safe from any thread.
#pragma once

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "core/access.h"

namespace ostrel::keychain {

// Where a revealed secret goes; each shows as the text that ends "reveal ... to ".
struct RevealTarget {
  struct Stdout {};
  struct File {
    std::filesystem::path path;
  };
  struct Clipboard {};
  struct ChildProcess {
    std::vector<std::string> command;
  };
  struct SdkCaller {
    std::string text;
  };
  struct Custom {
    std::string text;
  };
  std::variant<Stdout, File, Clipboard, ChildProcess, SdkCaller, Custom> target;
};

// What the unlocked identity will be used for; the prompt ends with its text.
struct UnlockPurpose {
  struct Reveal {
    core::SecretSelectorV1 selector;
    RevealTarget target;
  };
  struct Run {
    std::vector<std::string> selectors;
    std::vector<std::string> command;
  };
  struct Set {
    core::SecretSelectorV1 selector;
  };
  struct Move {
    core::SecretSelectorV1 from;
    core::SecretSelectorV1 to;
  };
  struct Delete {
    core::SecretSelectorV1 selector;
  };
  struct Custom {
    std::string text;
  };
  struct StoreIdentity {};
  struct VerifyVault {};
  std::variant<Reveal, Run, Set, Move, Delete, Custom, StoreIdentity, VerifyVault> purpose;

  // "reveal db/password{env=prod} to stdout", "store this identity", ...
  std::string text() const;
  // Reveal, Run and VerifyVault only read; every other purpose may write.
  bool reads_only() const;
};

// The path segments joined by '/' ("<root>" for none), then the labels as {k=v,k2=v2}; nothing
// is quoted or escaped.
std::string display_selector(const core::SecretSelectorV1& selector);

}  // namespace ostrel::keychain
