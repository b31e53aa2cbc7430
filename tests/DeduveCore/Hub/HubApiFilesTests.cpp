#include "DeduveCore/Hub/HubApi.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/LogCapture.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHub.hpp"

namespace {

using deduve::HubApi;
using deduve::Hub::HubClientError;
using EnvironmentError = HubApi::EnvironmentError;

// Collects the client's diagnostic lines for the life of the object.
class LogCapture : public mqtest::CapturedLines {
public:
  LogCapture() {
    previous_ = HubApi::setLogSink([this](const std::string &line) { add(line); });
  }
  ~LogCapture() { HubApi::setLogSink(previous_); }

private:
  HubApi::LogSink previous_;
};

std::vector<std::string> namesIn(const std::filesystem::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(HubSidecarTest, WriteThenReadBack) {
  mqtest::TempDir dir;
  const auto sidecar = dir / "repo/.cache/huggingface/download/a/b/file.bin.metadata";
  HubApi::writeDownloadMetadata("0123456789abcdef0123456789abcdef01234567", "etag1", sidecar,
                                1733832000.5);
  EXPECT_EQ(mqtest::TempDir::read(sidecar),
            "0123456789abcdef0123456789abcdef01234567\netag1\n1733832000.5\n");
  EXPECT_EQ(namesIn(sidecar.parent_path()), std::vector<std::string>{"file.bin.metadata"})
      << "no temporary file may stay behind";
  const auto metadata = HubApi::readDownloadMetadata(sidecar);
  ASSERT_TRUE(metadata);
  EXPECT_EQ(metadata->commitHash, "0123456789abcdef0123456789abcdef01234567");
  EXPECT_EQ(metadata->etag, "etag1");
  EXPECT_EQ(metadata->filename, "file.bin");
  EXPECT_EQ(metadata->timestamp, 1733832000.5);

  HubApi::writeDownloadMetadata("c", "e", sidecar, 12.0);
  EXPECT_EQ(mqtest::TempDir::read(sidecar), "c\ne\n12.0\n");

  const auto before = std::chrono::system_clock::now();
  HubApi::writeDownloadMetadata("c", "e", sidecar);
  const auto now = HubApi::readDownloadMetadata(sidecar);
  ASSERT_TRUE(now);
  EXPECT_GE(now->timestamp + 1.0, std::chrono::duration<double>(before.time_since_epoch()).count());
  EXPECT_EQ(HubApi::readDownloadMetadata(dir / "missing.metadata"), std::nullopt);
}

TEST(HubSidecarTest, AcceptedShapes) {
  struct Case {
    std::string name;
    std::string text;
    std::string commit;
    std::string etag;
    double timestamp;
  };
  const Case cases[] = {
      {"four lines", "c\ne\n12.5\nextra\n", "c", "e", 12.5},
      {"surrounding spaces", "  c \n\te\t\n 12.5 \n", "c", "e", 12.5},
      {"no final line break", "c\ne\n7", "c", "e", 7.0},
      {"exponent", "c\ne\n1.5e3\n", "c", "e", 1500.0},
      {"Unicode white space", "\u3000c\u2003\n\u00A0e\u2002\n\u200A12.5\u3000", "c", "e", 12.5},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    mqtest::TempDir dir;
    LogCapture log;
    const auto sidecar = dir.write("x.json.metadata", c.text);
    const auto metadata = HubApi::readDownloadMetadata(sidecar);
    ASSERT_TRUE(metadata);
    EXPECT_EQ(metadata->commitHash, c.commit);
    EXPECT_EQ(metadata->etag, c.etag);
    EXPECT_EQ(metadata->timestamp, c.timestamp);
    EXPECT_EQ(metadata->filename, "x.json");
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(std::filesystem::exists(sidecar));
  }
}

TEST(HubSidecarTest, BadSidecarsAreLoggedAndRemoved) {
  struct Case {
    std::string name;
    std::string text;
    std::string logStart;
    std::string reason;
  };
  const Case cases[] = {
      {"two lines", "c\ne", "Invalid metadata file ",
       "Invalid metadata: Metadata file is missing required fields"},
      {"empty file", "", "Invalid metadata file ",
       "Invalid metadata: Metadata file is missing required fields"},
      {"empty third line", "c\ne\n\n", "Invalid metadata file ",
       "Invalid metadata: Invalid timestamp format"},
      {"not a number", "c\ne\nabc\n", "Invalid metadata file ",
       "Invalid metadata: Invalid timestamp format"},
      {"trailing characters", "c\ne\n12.5s\n", "Invalid metadata file ",
       "Invalid metadata: Invalid timestamp format"},
      {"CRLF line ends", "c\r\ne\r\n12.5\r\n", "Invalid metadata file ",
       "Invalid metadata: Invalid timestamp format"},
      {"not UTF-8", "c\ne\n\xff\xfe\n", "Error reading metadata file ", "text encoding"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    mqtest::TempDir dir;
    LogCapture log;
    const auto sidecar = dir.write("sub/x.bin.metadata", c.text);
    EXPECT_EQ(HubApi::readDownloadMetadata(sidecar), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(sidecar));
    ASSERT_EQ(log.lines().size(), 1u);
    const std::string line = log.lines()[0];
    EXPECT_EQ(line.rfind(c.logStart + "file://" + sidecar.string() + ": ", 0), 0u) << line;
    EXPECT_NE(line.find(c.reason), std::string::npos) << line;
    EXPECT_NE(line.find(". Removing it from disk and continuing."), std::string::npos) << line;
  }
}

TEST(HubSidecarTest, ABadSidecarThatCannotBeRemovedIsAnError) {
  mqtest::TempDir dir;
  LogCapture log;
  // A folder in the sidecar's place cannot be read, and holding a file it cannot be removed.
  const auto sidecar = dir / "x.bin.metadata";
  dir.write("x.bin.metadata/inside", "keep");
  try {
    HubApi::readDownloadMetadata(sidecar);
    ADD_FAILURE() << "no error";
  } catch (const EnvironmentError &error) {
    EXPECT_EQ(error.kind(), EnvironmentError::Kind::invalidMetadataError);
    EXPECT_EQ(error.message().rfind("Could not remove corrupted metadata file: ", 0), 0u)
        << error.message();
  }
  EXPECT_EQ(log.lines().size(), 1u);
}

TEST(HubSidecarTest, WriterRefusesWhatWouldCorruptOrCannotBeWritten) {
  mqtest::TempDir dir;
  const auto sidecar = dir / "meta/x.metadata";
  for (const auto &[commit, etag] : std::vector<std::pair<std::string, std::string>>{
           {"c\n", "e"}, {"c", "e\r\n12.0"}, {"c", "e\x0b"}, {"c\xe2\x80\xa8", "e"}}) {
    SCOPED_TRACE(testing::PrintToString(commit + "|" + etag));
    try {
      HubApi::writeDownloadMetadata(commit, etag, sidecar, 1.0);
      ADD_FAILURE() << "written";
    } catch (const EnvironmentError &error) {
      EXPECT_EQ(error.kind(), EnvironmentError::Kind::invalidMetadataError);
    }
    EXPECT_FALSE(std::filesystem::exists(sidecar));
  }
  dir.write("blocked", "a file where a folder should be");
  const auto blocked = dir / "blocked/sub/x.metadata";
  try {
    HubApi::writeDownloadMetadata("c", "e", blocked, 1.0);
    ADD_FAILURE() << "written";
  } catch (const EnvironmentError &error) {
    EXPECT_EQ(error.kind(), EnvironmentError::Kind::fileWriteError);
    EXPECT_EQ(
        std::string(error.what())
            .rfind("Failed to write file: Failed to write metadata to " + blocked.string() + ": ",
                   0),
        0u)
        << error.what();
  }
}

TEST(HubFileHashTest, Sha256Vectors) {
  mqtest::TempDir dir;
  std::string blockAndAHalf(1024 * 1024 + 512 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < blockAndAHalf.size(); ++i) {
    blockAndAHalf[i] = static_cast<char>((i * 31 + 7) & 0xff);
  }
  const std::pair<std::string, std::string> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {std::string(1024 * 1024, 'x'), mqtest::TestHub::sha256Hex(std::string(1024 * 1024, 'x'))},
      {blockAndAHalf, mqtest::TestHub::sha256Hex(blockAndAHalf)},
  };
  int index = 0;
  for (const auto &[bytes, digest] : cases) {
    SCOPED_TRACE(bytes.size());
    const auto file = dir.write("f" + std::to_string(index++), bytes);
    EXPECT_EQ(HubApi::computeFileHash(file), digest);
  }
}

TEST(HubFileHashTest, UnreadableFilesAreErrorsNotDigests) {
  mqtest::TempDir dir;
  try {
    HubApi::computeFileHash(dir / "missing.bin");
    ADD_FAILURE() << "no error";
  } catch (const HubClientError &error) {
    EXPECT_EQ(error.kind(), HubClientError::Kind::fileNotFound);
    EXPECT_STREQ(error.what(), "File not found: missing.bin");
  }
  // A folder opens for reading but every read fails: that must not yield the empty digest.
  std::filesystem::create_directories(dir / "folder.bin");
  try {
    HubApi::computeFileHash(dir / "folder.bin");
    ADD_FAILURE() << "a failed read produced a digest";
  } catch (const HubClientError &error) {
    EXPECT_EQ(error.kind(), HubClientError::Kind::fileSystemError);
  }
}

TEST(HubLocalFilesTest, ListsRegularVisibleFilesOnly) {
  mqtest::TempDir dir;
  dir.write("repo/a.json", "{}");
  dir.write("repo/.hidden", "x");
  dir.write("repo/sub/b.json", "{}");
  dir.write("repo/.cache/huggingface/download/a.json.metadata", "x");
  std::filesystem::create_symlink(dir / "repo/a.json", dir / "repo/link.json");
  auto files = HubApi::localFiles(dir / "repo");
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files,
            (std::vector<std::filesystem::path>{dir / "repo/a.json", dir / "repo/sub/b.json"}));
  EXPECT_TRUE(HubApi::localFiles(dir / "missing").empty());
}

TEST(HubLocalFilesTest, ServerNamesBecomePathsOnlyWhenSafe) {
  const std::vector<std::string> safe = {"a.json",
                                         "folder/sub/file.bin",
                                         "a..b",
                                         "...x",
                                         "é.txt",
                                         "with space.txt",
                                         ".gitattributes",
                                         ".cache/other",
                                         "a/.cache/huggingface/x"};
  const std::vector<std::string> unsafe = {
      "", "/abs", "..", ".", "../x", "a/../b", "a/..", "./a", "a//b", "a/", "a\\b", "..\\x", "a\nb",
      "a\rb", "a\tb", std::string("a\0b", 3), "\x7f",
      // The client's own bookkeeping folder and everything in it.
      ".cache", ".cache/huggingface", ".cache/huggingface/download/config.json.metadata",
      ".cache/huggingface/x"};
  const std::filesystem::path folder = "/base/repo";
  for (const auto &name : safe) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(HubApi::isSafeRelativeFilename(name));
    const auto path = HubApi::localPath(folder, name);
    EXPECT_EQ(path.lexically_normal().string().rfind("/base/repo/", 0), 0u);
  }
  for (const auto &name : unsafe) {
    SCOPED_TRACE(testing::PrintToString(name));
    EXPECT_FALSE(HubApi::isSafeRelativeFilename(name));
    EXPECT_THROW(HubApi::localPath(folder, name), HubClientError);
  }
}

} // namespace
