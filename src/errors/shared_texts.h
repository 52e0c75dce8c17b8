// Message texts that more than one error enumeration or layer prints. Callers, and the Python
// binding, pick failures apart by these words, so each exists only here; an enumeration's own
// texts are in its `form` switch. Pure functions and constants; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrel::errors {

// How an error wrapped by a higher enumeration prints, the wrapped message filling the {}.
inline constexpr std::string_view kCordWrapped = "Cord error: {}";
inline constexpr std::string_view kCoreWrapped = "core error: {}";
inline constexpr std::string_view kCryptoWrapped = "crypto error: {}";
inline constexpr std::string_view kStoreWrapped = "store error: {}";
inline constexpr std::string_view kRecordWrapped = "hazmat error: {}";
// Printed with no prefix: the wrapped error's own message.
inline constexpr std::string_view kWrappedAlone = "{}";

// A path, then the I/O error met there.
inline constexpr std::string_view kIoAt = "I/O error at {}: {}";
inline constexpr std::string_view kValidationFailed = "validation failed: {}";
// The handle text in quoted form, then why it was refused.
inline constexpr std::string_view kInvalidUserHandle = "invalid user handle {}: {}";
// Why a user handle was refused, by the operations and by the front end alike.
inline constexpr std::string_view kHandleRule =
    "handle must be 1–64 chars of a–z, 0–9, '-', '_', starting and ending with a letter or digit";

// "{subject} is {size} bytes, above the supported maximum of {max}"
std::string size_above_maximum(std::string_view subject, std::uint64_t size, std::uint64_t max);
// "{subject} carries {count} {items}, above the supported maximum of {max}"
std::string count_above_maximum(std::string_view subject, std::uint64_t count, std::string_view items,
                                std::uint64_t max);
// "{subject} exceeds the supported maximum of {max} bytes"
std::string exceeds_maximum(std::string_view subject, std::uint64_t max);

}  // namespace ostrel::errors
