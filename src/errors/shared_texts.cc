#include "errors/shared_texts.h"

namespace ostrel::errors {
namespace {

constexpr std::string_view kSupportedMaximum = "the supported maximum of ";

}  // namespace

std::string size_above_maximum(std::string_view subject, std::uint64_t size, std::uint64_t max) {
  std::string out(subject);
  out.append(" is ").append(std::to_string(size)).append(" bytes, above ").append(kSupportedMaximum);
  return out.append(std::to_string(max));
}

std::string count_above_maximum(std::string_view subject, std::uint64_t count, std::string_view items,
                                std::uint64_t max) {
  std::string out(subject);
  out.append(" carries ").append(std::to_string(count)).append(" ").append(items);
  out.append(", above ").append(kSupportedMaximum);
  return out.append(std::to_string(max));
}

std::string exceeds_maximum(std::string_view subject, std::uint64_t max) {
  std::string out(subject);
  out.append(" exceeds ").append(kSupportedMaximum).append(std::to_string(max));
  return out.append(" bytes");
}

}  // namespace ostrel::errors
