#include "platform/system/AtomicFileWriter.hpp"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TempDir.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(AtomicFileWriterTest, ReplacesTheTargetAndLeavesNoTemporary) {
  mqtest::TempDir dir;
  const auto target = dir.write("settings.json", "old");
  replaceFileAtomically(target, "new bytes");
  EXPECT_EQ(mqtest::TempDir::read(target), "new bytes");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"settings.json"});
}

TEST(AtomicFileWriterTest, TemporaryNameDoesNotGrowWithTheTargetsName) {
  mqtest::TempDir dir;
  const std::string longest(255, 'a');
  const auto target = dir / longest;
  AtomicFileWriter writer(target);
  EXPECT_EQ(writer.temporaryPath().parent_path(), dir.path());
  EXPECT_LT(writer.temporaryPath().filename().string().size(), 40u);
  writer.write("x");
  writer.commit();
  EXPECT_EQ(mqtest::TempDir::read(target), "x");
}

TEST(AtomicFileWriterTest, AnUncommittedWriteKeepsTheOldFileAndRemovesTheTemporary) {
  mqtest::TempDir dir;
  const auto target = dir.write("entry.desktop", "old");
  {
    AtomicFileWriter writer(target);
    writer.write("half of it");
    EXPECT_TRUE(fs::exists(writer.temporaryPath()));
  }
  EXPECT_EQ(mqtest::TempDir::read(target), "old");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"entry.desktop"});
}

TEST(AtomicFileWriterTest, AFailedRenameThrowsNamingTheTargetAndRemovesTheTemporary) {
  mqtest::TempDir dir;
  fs::create_directories(dir / "folder" / "inside");
  try {
    replaceFileAtomically(dir / "folder", "bytes");
    FAIL() << "a folder was replaced by a file";
  } catch (const std::system_error &error) {
    EXPECT_NE(std::string(error.what()).find((dir / "folder").string()), std::string::npos);
  }
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"folder"});
}

TEST(AtomicFileWriterTest, AMissingFolderThrowsNamingTheTarget) {
  mqtest::TempDir dir;
  const auto target = dir / "missing" / "file";
  try {
    replaceFileAtomically(target, "bytes");
    FAIL() << "wrote into a missing folder";
  } catch (const std::system_error &error) {
    EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    EXPECT_NE(std::string(error.what()).find(target.string()), std::string::npos);
  }
}

TEST(AtomicFileWriterTest, MoveFileReplacingMovesOverAnExistingFile) {
  mqtest::TempDir dir;
  const auto from = dir.write("download.incomplete", "finished");
  const auto to = dir.write("model.bin", "stale");
  moveFileReplacing(from, to);
  EXPECT_EQ(mqtest::TempDir::read(to), "finished");
  EXPECT_FALSE(fs::exists(from));
}

} // namespace
} // namespace platform
