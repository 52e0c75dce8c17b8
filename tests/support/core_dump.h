// Whether memory is left out of this process's core dumps, read from the kernel's own account of
// its mappings (/proc/self/smaps: a mapping marked "dd" in its VmFlags is never dumped).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace ostrel::testing {

// Success when every byte of [p, p + n) lies in mappings marked "dd"; otherwise names the first
// byte that does not and its mapping's flags.
inline ::testing::AssertionResult left_out_of_core_dumps(const void* p, std::size_t n) {
  struct Mapping {
    std::uintptr_t start = 0, end = 0;
    std::string flags;
  };
  std::vector<Mapping> mappings;
  std::ifstream smaps("/proc/self/smaps");
  if (!smaps) return ::testing::AssertionFailure() << "/proc/self/smaps cannot be read";
  for (std::string line; std::getline(smaps, line);) {
    if (line.starts_with("VmFlags:")) {
      if (!mappings.empty()) mappings.back().flags = line.substr(8);
      continue;
    }
    // A mapping's first line: "start-end perms offset dev inode [path]", addresses in hex.
    std::istringstream in(line);
    Mapping m;
    char dash = 0;
    if (in >> std::hex >> m.start >> dash >> m.end && dash == '-' && m.start < m.end) mappings.push_back(m);
  }

  auto hex = [](std::uintptr_t a) {
    std::ostringstream out;
    out << "0x" << std::hex << a;
    return out.str();
  };
  auto at = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t end = at + n;
  while (at < end) {
    const Mapping* holder = nullptr;
    for (const Mapping& m : mappings) {
      if (m.start <= at && at < m.end) holder = &m;
    }
    if (holder == nullptr) return ::testing::AssertionFailure() << "no mapping holds " << hex(at);
    std::istringstream flags(holder->flags);
    bool dd = false;
    for (std::string flag; flags >> flag;) dd = dd || flag == "dd";
    if (!dd) {
      return ::testing::AssertionFailure() << hex(at) << " lies in " << hex(holder->start) << "-"
                                           << hex(holder->end) << ", flags" << holder->flags;
    }
    at = holder->end;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace ostrel::testing
