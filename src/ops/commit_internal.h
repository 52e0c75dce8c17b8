// How rolling a journal forward judges each state file, exposed for tests. Pure functions; safe
// from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "ops/commit.h"

namespace ostrel::ops {

// What rolling a journal forward does to one state file.
enum class FileAction { Write, AlreadyWritten };

// Classifies a state file (its current bytes, none when missing) against its precondition and its
// after-image: already written when it holds the after-image, to be written when it holds the
// precondition, otherwise RecoveryMismatch.
OpsResult<FileAction> check_transaction_file(std::optional<std::span<const std::uint8_t>> current,
                                             const store::FilePreconditionV1& before,
                                             std::span<const std::uint8_t> after_image);

// Whether `current` holds the after-image (by transaction file digest).
bool matches_after_image(std::span<const std::uint8_t> current, std::span<const std::uint8_t> after_image);

}  // namespace ostrel::ops
