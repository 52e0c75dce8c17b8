// The optional read of the operations layer: a missing file is an answer, anything else that fails
// is the store's I/O error, which the operations layer wraps whole.
#include <gtest/gtest.h>

#include "errors/ops_error.h"
#include "store/io.h"
#include "support/scratch.h"

namespace ostrel::store {
namespace {

using ostrel::testing::bytes;
using ostrel::testing::ScratchDir;
using ostrel::testing::write_file;

TEST(ReadOptionalFile, AbsenceIsNotAFailure) {
  ScratchDir d;
  write_file(d / "state", "abc");
  write_file(d / "plain", "not a folder");

  auto present = read_optional_file(d / "state", 3);
  ASSERT_TRUE(present) << present.error().message();
  ASSERT_TRUE(present->has_value());
  EXPECT_EQ(**present, bytes("abc"));

  // A missing file, a missing folder and a file standing where a folder should be are all absent.
  for (const auto& path : {d / "missing", d / "no-dir" / "state", d / "plain" / "state"}) {
    auto absent = read_optional_file(path, 3);
    ASSERT_TRUE(absent) << path << ": " << absent.error().message();
    EXPECT_FALSE(absent->has_value()) << path;
  }
}

TEST(ReadOptionalFile, OtherFailuresAreStoreErrorsNamingThePath) {
  ScratchDir d;
  write_file(d / "state", "abcd");
  std::filesystem::create_directory(d / "folder");
  struct Case {
    const char* fault;
    std::filesystem::path path;
    std::string io_text;
  };
  const Case cases[] = {
      {"too large", d / "state", "file is 4 bytes, above the supported maximum of 3"},
      {"a folder", d / "folder", "not a regular file"},
  };
  for (const Case& c : cases) {
    auto r = read_optional_file(c.path, 3);
    ASSERT_FALSE(r) << c.fault;
    // The operations layer wraps the store's error whole.
    const OpsError wrapped = r.error();
    ASSERT_EQ(wrapped.kind(), OpsError::Store) << c.fault;
    EXPECT_TRUE(wrapped.store_error().kind() == StoreError::Io) << c.fault;
    EXPECT_EQ(wrapped.message(), "store error: I/O error at " + c.path.string() + ": " + c.io_text) << c.fault;
  }
}

}  // namespace
}  // namespace ostrel::store
