// The test build's failure trigger (OSTREL_PY_TEST_HOOKS, set only for the module variant the
// tests load; the installed module has none): a name whose first segment is kTestPanicSegment
// makes the code that sees it fail as an internal fault would, so the tests reach the
// PanicException path and the session mutex's poisoning.
#pragma once

#include <string_view>

#include "py/error.h"

namespace ostrel::py {

inline constexpr std::string_view kTestPanicSegment = "ostrel-test-panic";

inline void test_failure_trigger([[maybe_unused]] std::string_view first_segment) {
#ifdef OSTREL_PY_TEST_HOOKS
  if (first_segment == kTestPanicSegment) throw Panic("test-triggered internal failure");
#endif
}

}  // namespace ostrel::py
