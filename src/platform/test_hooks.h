// Named steps of the store's writes (a temporary file synced, a rename, a folder synced, a file
// removed, a commit's stages) that a test build can watch: to record their order, or to end the
// process at one of them and prove that what a crash there leaves is recovered. Compiled in only
// with OSTREL_TEST_HOOKS, which test builds define; elsewhere step_reached is empty and inlined
// away, and nothing else exists.
#pragma once

#include <filesystem>
#include <string_view>

#if defined(OSTREL_TEST_HOOKS)
#include <functional>
#endif

namespace ostrel::platform {

// The steps, each reported with the file or folder it concerns.
namespace step {
inline constexpr std::string_view kTempSynced = "temp-synced";  // subject: the target file
inline constexpr std::string_view kRenamed = "renamed";         // subject: the target file
inline constexpr std::string_view kDirSynced = "dir-synced";    // subject: the folder
inline constexpr std::string_view kRemoved = "removed";         // subject: the file
// A commit's stages; subject: the journal.
inline constexpr std::string_view kRatchetWritten = "ratchet-written";
inline constexpr std::string_view kVaultWritten = "vault-written";
inline constexpr std::string_view kReadBack = "read-back";
inline constexpr std::string_view kJournalDeleted = "journal-deleted";
}  // namespace step

#if defined(OSTREL_TEST_HOOKS)

// Called at every step while set. REQUIRES: set or cleared only while no store call runs.
using StepObserver = std::function<void(std::string_view step, const std::filesystem::path& subject)>;
void set_step_observer(StepObserver observer);

void step_reached(std::string_view step, const std::filesystem::path& subject);

#else

inline void step_reached(std::string_view, const std::filesystem::path&) {}

#endif

}  // namespace ostrel::platform
