#include "platform/system/FileContents.hpp"

#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

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

// Outside data may name anything: a FIFO without a writer would block the open for good, and
// a device without an end would be read up to the bound every time.
TEST(FileContentsTest, ReadsOnlyRegularFiles) {
  mqtest::TempDir temp;
  const auto fifo = temp / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::filesystem::path &path :
       {fifo, std::filesystem::path("/dev/zero"), temp.path()}) {
    const auto contents = FileContents::read(path, 1024);
    EXPECT_TRUE(contents.opened) << path;
    EXPECT_TRUE(contents.notRegular) << path;
    EXPECT_TRUE(contents.failed) << path;
    EXPECT_TRUE(contents.bytes.empty()) << path;
  }
}

} // namespace
} // namespace platform
