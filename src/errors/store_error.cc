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

}  // namespace

void append_field(std::string& out, const OsCode& code) {
  char buf[256] = {};
  const char* text = strerror_result(::strerror_r(code.code, buf, sizeof buf), buf);
  if (text == nullptr || *text == '\0') {
    out.append("Unknown error ").append(std::to_string(code.code));
  } else {
    out.append(text);
  }
  out.append(" (os error ").append(std::to_string(code.code)).append(")");
}

IoError IoError::from_os(int code) { return make(kind_of_errno(code), OsCode{code}); }

}  // namespace ostrel
