#include "platform/system/FileContents.hpp"

#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(FileContentsTest, ReadsUpToTheBoundAndMarksALargerFile) {
  mqtest::TempDir temp;
  const std::string text(200 * 1024 + 7, 'x'); // several pieces
  const auto file = temp.write("file", text);
  const auto exact = FileContents::read(file, text.size());
  EXPECT_TRUE(exact.opened);
  EXPECT_FALSE(exact.tooLarge);
  EXPECT_FALSE(exact.failed);
  EXPECT_EQ(exact.bytes, text);

  const auto over = FileContents::read(file, text.size() - 1);
  EXPECT_TRUE(over.tooLarge);
  EXPECT_EQ(over.bytes.size(), text.size()) << "reads one byte past the bound, no more";

  EXPECT_FALSE(FileContents::read(temp / "absent", 10).opened);
  EXPECT_TRUE(FileContents::read(temp.path(), 10).failed) << "a folder cannot be read";
}

} // namespace
} // namespace platform
