// Messages of the front end's error kinds.
#include <gtest/gtest.h>

#include "errors/frontend_error.h"

namespace ostrel {
namespace {

TEST(FrontendErrors, InvalidHexShowsLabelThenReasonUnquoted) {
  struct Case {
    FrontendError error;
    const char* want;
  };
  const Case cases[] = {
      {FrontendError::invalid_hex("user ID", "odd length"), "invalid user ID hex: odd length"},
      {FrontendError::invalid_hex("root \"key\"", "non-hex character"),
       "invalid root \"key\" hex: non-hex character"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.error.kind(), FrontendError::InvalidHex);
    EXPECT_EQ(c.error.message(), c.want);
  }
  const FrontendError e = FrontendError::invalid_hex("user ID", "odd length");
  EXPECT_EQ(e.label(), "user ID");
  EXPECT_EQ(e.reason(), "odd length");
}

}  // namespace
}  // namespace ostrel
