// Test helpers for file-system tests: a scratch directory removed afterwards, environment
// variables restored afterwards, a umask fixed for the test, small file utilities (among them how
// much of a file the page cache holds), and a child process that runs as a user who may read this
// process's files but not write them.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::testing {

// A fresh directory under the system's temporary folder, deleted with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& rel) const { return path_ / rel; }

 private:
  std::filesystem::path path_;
};

// Sets or unsets one variable and puts the old value back when dropped.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    apply(value);
  }
  ~ScopedEnv() { apply(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void apply(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  std::string name_;
  std::optional<std::string> old_;
};

class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t old_;
};

inline void write_file(const std::filesystem::path& p, const std::string& content) {
  std::ofstream(p, std::ios::binary) << content;
}

inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Permission bits of the path itself (links not followed).
inline unsigned mode_of(const std::filesystem::path& p) {
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) return 0xffffffffu;
  return st.st_mode & 07777;
}

// Names in a directory, sorted.
// The inode of the file at `p`: a file replaced by a rename gets another one.
inline std::uint64_t inode_of(const std::filesystem::path& p) {
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) std::abort();
  return static_cast<std::uint64_t>(st.st_ino);
}

inline std::vector<std::string> entries(const std::filesystem::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

inline std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

// How many of the file's pages the page cache holds now. None when it cannot be told: the file is
// missing or empty, or lives in memory (tmpfs), whose pages never leave the cache.
inline std::optional<std::size_t> cached_pages(const std::filesystem::path& p) {
  struct statfs fs {};
  if (::statfs(p.c_str(), &fs) != 0 || fs.f_type == TMPFS_MAGIC) return std::nullopt;
  const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  void* map = MAP_FAILED;
  std::size_t size = 0;
  if (::fstat(fd, &st) == 0 && st.st_size > 0) {
    size = static_cast<std::size_t>(st.st_size);
    map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  }
  ::close(fd);
  if (map == MAP_FAILED) return std::nullopt;
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((size + page - 1) / page);
  const bool told = ::mincore(map, size, resident.data()) == 0;
  ::munmap(map, size);
  if (!told) return std::nullopt;
  return static_cast<std::size_t>(std::ranges::count_if(resident, [](unsigned char c) { return (c & 1) != 0; }));
}

// Runs `attempt` in a child process as a user for whom a file of mode 0444 that this process
// made is readable but not writable: as root (who may write anything) the child becomes nobody
// (uid and gid 65534), otherwise it stays this user, the owner, who may not write 0444 either.
// The files it needs must be reachable by that user. Returns what `attempt` returned (0 for
// success or an errno value; 124 for a value that does not fit an exit status), kCannotDrop
// when the child could not become nobody, or 128 plus the signal that ended it. A child still
// blocked after 10 s is ended by SIGALRM.
inline constexpr int kCannotDrop = 125;
inline int run_as_reader_only(const std::function<int()>& attempt) {
  const pid_t child = ::fork();
  if (child < 0) return 126;
  if (child == 0) {
    ::alarm(10);
    if (::geteuid() == 0) {
      constexpr uid_t kNobody = 65534;
      if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(kCannotDrop);
    }
    const int result = attempt();
    ::_exit(result >= 0 && result < 124 ? result : 124);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return 126;
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

// What a result of run_as_reader_only means, for a failure message.
inline std::string reader_result_text(int result) {
  if (result == 0) return "success";
  if (result < 124) return std::strerror(result);
  if (result == SIGALRM + 128) return "child still blocked after 10 s";
  if (result > 128) return "child ended by signal " + std::to_string(result - 128);
  return "child failed with status " + std::to_string(result);
}

}  // namespace ostrel::testing
