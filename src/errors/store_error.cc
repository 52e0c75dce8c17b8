#include "errors/store_error.h"

#include <cerrno>
#include <cstring>

namespace ostrel {
namespace {

IoError::Kind kind_of_errno(int code) {
  switch (code) {
    case ENOENT:
    case ENOTDIR:
      return IoError::NotFound;
    case EACCES:
    case EPERM:
      return IoError::PermissionDenied;
    case EEXIST:
      return IoError::AlreadyExists;
    case EWOULDBLOCK:
      return IoError::WouldBlock;
    default:
      return IoError::Other;
  }
}

// strerror_r comes in two shapes; these overloads accept whichever the C library declares.
[[maybe_unused]] const char* strerror_result(int rc, const char* buf) { return rc == 0 ? buf : nullptr; }
[[maybe_unused]] const char* strerror_result(const char* text, const char*) { return text; }

std::string describe(int code) {
  char buf[256] = {};
  const char* text = strerror_result(::strerror_r(code, buf, sizeof buf), buf);
  if (text == nullptr || *text == '\0') return "Unknown error " + std::to_string(code);
  return text;
}

void append_replacement(std::string& out) { out += "\xEF\xBF\xBD"; }

}  // namespace

IoError IoError::from_os(int code) { return IoError(kind_of_errno(code), code); }

std::optional<int> IoError::os_code() const {
  if (const int* code = std::get_if<int>(&payload_)) return *code;
  return std::nullopt;
}

std::string IoError::message() const {
  if (const int* code = std::get_if<int>(&payload_)) {
    return describe(*code) + " (os error " + std::to_string(*code) + ")";
  }
  return std::get<std::string>(payload_);
}

std::string path_text(const std::filesystem::path& path) {
  const std::string& s = path.native();
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    // Continuation count and the allowed range of the second byte (Unicode table 3-7); an
    // ill-formed sequence is replaced by one U+FFFD per maximal subpart.
    int need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
    } else if (b == 0xE0) {
      need = 2;
      lo = 0xA0;
    } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
      need = 2;
    } else if (b == 0xED) {
      need = 2;
      hi = 0x9F;
    } else if (b == 0xF0) {
      need = 3;
      lo = 0x90;
    } else if (b >= 0xF1 && b <= 0xF3) {
      need = 3;
    } else if (b == 0xF4) {
      need = 3;
      hi = 0x8F;
    } else {
      append_replacement(out);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool whole = true;
    for (int k = 0; k < need; ++k, ++j) {
      const unsigned char first = k == 0 ? lo : 0x80;
      const unsigned char last = k == 0 ? hi : 0xBF;
      if (j >= s.size() || static_cast<unsigned char>(s[j]) < first ||
          static_cast<unsigned char>(s[j]) > last) {
        whole = false;
        break;
      }
    }
    if (whole) {
      out.append(s, i, j - i);
    } else {
      append_replacement(out);
    }
    i = j;
  }
  return out;
}

std::string StoreError::message() const {
  struct Text {
    std::string operator()(const Io& e) const {
      return "I/O error at " + path_text(e.path) + ": " + e.error.message();
    }
    std::string operator()(const VaultMissing& e) const {
      return "vault file is missing at " + path_text(e.path);
    }
    std::string operator()(const VaultInvalid& e) const {
      return "vault file " + path_text(e.path) + " is invalid: " + e.error.message();
    }
    std::string operator()(const Cord& e) const { return "Cord error: " + e.error.message(); }
    std::string operator()(const Core& e) const { return "core error: " + e.error.message(); }
    std::string operator()(const WorkspaceNotFound& e) const {
      return "workspace not found from " + path_text(e.path);
    }
    std::string operator()(const AmbiguousWorkspace& e) const {
      return "ambiguous Ostrel workspace from " + path_text(e.start) + ": found nested workspace at " +
             path_text(e.nested) + " and parent workspace at " + path_text(e.parent) +
             "; pass an explicit vault path";
    }
    std::string operator()(const InvalidWorkspaceRoot& e) const {
      return "invalid workspace root " + path_text(e.path) + ": missing .ostrel directory";
    }
    std::string operator()(const WorkspaceLockHeld& e) const {
      return "workspace lock is already held at " + path_text(e.path);
    }
    std::string operator()(const RatchetInvalid& e) const {
      return "ratchet file " + path_text(e.path) + " is invalid: " + e.error.message();
    }
    std::string operator()(const TransactionInvalid& e) const {
      return "transaction file " + path_text(e.path) + " is invalid: " + e.reason;
    }
    std::string operator()(const PendingTransaction& e) const {
      return "a pending transaction at " + path_text(e.path) + " blocks rollback-state writes";
    }
    std::string operator()(const TrustRootMismatch& e) const {
      return "trust root mismatch: file has " + e.file.debug() + ", requested " + e.requested.debug();
    }
  };
  return std::visit(Text{}, variant_);
}

}  // namespace ostrel
