// The test build's failure triggers (OSTREL_PY_TEST_HOOKS, set only for the module variant the
// tests load; the installed module has none). Each makes the code that reaches it fail as an
// internal fault would, so the tests reach the PanicException path of every entry point and the
// poisoning of a session mutex:
// - every call frame (py/frame.h) fails before its body while the environment variable
//   OSTREL_TEST_PANIC_ENTRY names its entry ("Vault.get", "Auth.from_env", "Selector.__str__",
//   "Vault.tp_dealloc", "Py_mod_exec"), so every entry point can be made to fail the same way;
// - a name whose first segment is kTestPanicSegment fails where it is taken in: in Selector(...)
//   and in a Vault method's locked section, with the session mutex held.
#pragma once

#include <cstdlib>
#include <string_view>

#include "py/error.h"

namespace ostrel::py {

inline constexpr std::string_view kTestPanicSegment = "ostrel-test-panic";
inline constexpr const char* kTestPanicEntryVariable = "OSTREL_TEST_PANIC_ENTRY";
inline constexpr const char* kTestFailure = "test-triggered internal failure";

inline void test_entry_trigger([[maybe_unused]] std::string_view entry) {
#ifdef OSTREL_PY_TEST_HOOKS
  // Read at every call, with the interpreter lock held: Python's os.environ sets it under the lock.
  const char* named = std::getenv(kTestPanicEntryVariable);
  if (named != nullptr && entry == named) throw Panic(kTestFailure);
#endif
}

inline void test_failure_trigger([[maybe_unused]] std::string_view first_segment) {
#ifdef OSTREL_PY_TEST_HOOKS
  if (first_segment == kTestPanicSegment) throw Panic(kTestFailure);
#endif
}

}  // namespace ostrel::py
