// Moving identities out of the two older keychain layouts (a combined keychain.cord per root, a
// legacy keychain.cord per user) into one file per identity and a current-user.cord per root. A
// move writes a file only where none exists, accepts an existing one only when it holds exactly
// the record being moved, checks what it wrote, and only then removes or shrinks the older file,
// so a run interrupted anywhere completes when run again. Records are visited in the file's canonical order, so which record
// wins and which error is reported never vary between runs. Safe from any thread; the keychain
// locks serialise processes.
#pragma once

#include <filesystem>
#include <vector>

#include "errors/keychain_error.h"
#include "ids/identifiers.h"
#include "keychain/stored.h"

namespace ostrel::keychain {

// Splits base / hex-root / keychain.cord, if there is one, and removes it. Refuses (InvalidFile
// naming it) a file with an unknown record, with two selectors, or with another root's identity.
// REQUIRES: the root's keychain lock is held.
KeychainResult<void> split_combined_keychain(const std::filesystem::path& base, const HashValue& root);

// Moves the identities of `root` out of the legacy file at `legacy`, if there is one, under the
// lock of the legacy file's folder; then removes the file or rewrites it with what remains. A
// file with no identity of the root is left exactly as it is.
// REQUIRES: the root's keychain lock is held.
KeychainResult<void> split_legacy_keychain(const std::filesystem::path& base, const HashValue& root,
                                           const std::filesystem::path& legacy);

}  // namespace ostrel::keychain
