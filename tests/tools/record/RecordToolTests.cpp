// The record program run as a child process on what it checks before it touches a device: an
// output it could not write must not cost a take, so it is refused first, whatever devices the
// machine has.

#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

int run(const fs::path &folder, const std::string &arguments) {
  const std::string line = "cd '" + folder.string() + "' && '" + MQ_RECORD_TOOL + "' " + arguments +
                           " >stdout.txt 2>stderr.txt";
  const int status = std::system(line.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct OutputCase {
  std::string name;
  std::string output; // as given on the command line
  std::string error;  // the whole of standard error
};
void PrintTo(const OutputCase &c, std::ostream *out) { *out << c.name; }

class RecordOutputTest : public testing::TestWithParam<OutputCase> {};

TEST_P(RecordOutputTest, IsRefusedBeforeRecording) {
  const OutputCase &c = GetParam();
  mqtest::TempDir folder;
  fs::create_directories(folder / "takes.wav");
  EXPECT_EQ(run(folder.path(), "--seconds 1 " + c.output), 2);
  EXPECT_EQ(mqtest::TempDir::read(folder / "stderr.txt"), c.error);
  EXPECT_EQ(mqtest::TempDir::read(folder / "stdout.txt"), "");
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, RecordOutputTest,
    testing::Values(OutputCase{"MissingFolder", "nowhere/take.wav",
                               "record: nowhere/take.wav: no such folder: nowhere\n"},
                    OutputCase{"AFolder", "takes.wav", "record: takes.wav: is a directory\n"},
                    OutputCase{"NotWav", "take.mp3",
                               "record: take.mp3: record writes WAV files only; give the file the "
                               "extension .wav\n"},
                    OutputCase{
                        "NoExtension", "take",
                        "record: take: record writes WAV files only; give the file the extension "
                        ".wav\n"},
                    OutputCase{"Empty", "''", "record: : an empty path is not a file name\n"}),
    [](const testing::TestParamInfo<OutputCase> &info) { return info.param.name; });

TEST(RecordToolTest, AnUnwritableFolderIsRefusedBeforeRecording) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "root writes anywhere";
  }
  mqtest::TempDir folder;
  fs::create_directories(folder / "locked");
  fs::permissions(folder / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(run(folder.path(), "locked/take.wav"), 2);
  EXPECT_EQ(mqtest::TempDir::read(folder / "stderr.txt"),
            "record: locked/take.wav: cannot write in locked: Permission denied\n");
  fs::permissions(folder / "locked", fs::perms::owner_all);
}

} // namespace
