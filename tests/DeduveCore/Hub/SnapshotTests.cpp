#include "DeduveCore/Hub/HubApi.hpp"

#include "DeduveCore/Hub/Downloader.hpp"
#include "DeduveCore/Hub/HubFileDownloader.hpp"
#include "tests/DeduveCore/Hub/SnapshotTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using deduve::Downloader;
using deduve::HubApi;
using deduve::Progress;
using mqtest::TempDir;
using mqtest::TestHub;
using snapshottest::expectThrows;
using snapshottest::kOtherCommit;
using snapshottest::kRepo;
using snapshottest::lines;
using snapshottest::SnapshotTest;
using snapshottest::writeFile;

TEST_F(SnapshotTest, FreshSnapshotFillsTheCacheAndASecondRunOnlyAsksForMetadata) {
  std::vector<double> fractions;
  std::shared_ptr<Progress> lastParent;
  const auto folder = client().snapshot(kRepo, "main", {}, [&](const auto &parent) {
    fractions.push_back(parent->fractionCompleted());
    lastParent = parent;
  });

  EXPECT_EQ(folder, repoFolder());
  EXPECT_EQ(TempDir::read(folder / "config.json"), config_);
  EXPECT_EQ(TempDir::read(folder / "small.txt"), small_);
  EXPECT_EQ(TempDir::read(folder / "sub" / "dir" / "weights.bin"), large_);
  const std::pair<std::string, std::string> expectedEtags[] = {
      {"config.json", TestHub::gitBlobSha1Hex(config_)},
      {"small.txt", TestHub::gitBlobSha1Hex(small_)},
      {"sub/dir/weights.bin", TestHub::sha256Hex(large_)},
  };
  for (const auto &[name, etag] : expectedEtags) {
    SCOPED_TRACE(name);
    const auto sidecarLines = lines(TempDir::read(sidecar(name)));
    ASSERT_EQ(sidecarLines.size(), 3u);
    EXPECT_EQ(sidecarLines[0], hub_.commit());
    EXPECT_EQ(sidecarLines[1], etag);
    EXPECT_GT(std::stod(sidecarLines[2]), 1.7e9);
  }
  for (const auto &entry : fs::recursive_directory_iterator(dir_ / "cache")) {
    EXPECT_NE(entry.path().extension(), ".incomplete") << entry.path();
  }
  ASSERT_NE(lastParent, nullptr);
  EXPECT_EQ(lastParent->totalUnitCount(), 3);
  EXPECT_EQ(lastParent->completedUnitCount(), 3);
  EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
  for (const double fraction : fractions) {
    EXPECT_GE(fraction, 0.0);
    EXPECT_LE(fraction, 1.0);
  }

  const auto sidecarBefore = TempDir::read(sidecar("small.txt"));
  hub_.clearRequests();
  EXPECT_EQ(client().snapshot(kRepo, "main"), repoFolder());
  EXPECT_TRUE(transfers().empty());
  int heads = 0;
  for (const auto &request : hub_.requests()) {
    heads += request.method == "HEAD";
  }
  EXPECT_EQ(heads, 3);
  // The commit shortcut leaves the sidecars as they were.
  EXPECT_EQ(TempDir::read(sidecar("small.txt")), sidecarBefore);
}

TEST_F(SnapshotTest, LocalCopiesAreKeptByCommitOrETagOrDigestAndOtherwiseReplaced) {
  struct Case {
    const char *name;
    std::string file;
    std::string localContents;
    std::optional<std::pair<std::string, std::string>> sidecar; // commit, ETag
    bool fetched;
    bool sidecarRewritten;
  };
  const Case cases[] = {
      {"same commit: kept untouched even with another ETag", "small.txt", "edited locally",
       std::make_pair(hub_.commit(), std::string("other-etag")), false, false},
      {"same ETag, older commit: kept, sidecar rewritten", "small.txt", small_,
       std::make_pair(kOtherCommit, TestHub::gitBlobSha1Hex(small_)), false, true},
      {"no sidecar, digest equals the SHA-256 ETag: adopted", "sub/dir/weights.bin", large_,
       std::nullopt, false, true},
      {"older commit and ETag: downloaded again", "small.txt", "old version",
       std::make_pair(kOtherCommit, std::string("old-etag")), true, true},
      {"no sidecar, digest differs: downloaded again", "sub/dir/weights.bin", "old weights",
       std::nullopt, true, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_ / "cache");
    writeFile(repoFolder() / c.file, c.localContents);
    std::string sidecarBefore;
    if (c.sidecar) {
      sidecarBefore = c.sidecar->first + "\n" + c.sidecar->second + "\n1700000000.0\n";
      writeFile(sidecar(c.file), sidecarBefore);
    }
    hub_.clearRequests();

    client().snapshot(kRepo, "main", {c.file});

    const auto &remote = c.file == "small.txt" ? small_ : large_;
    EXPECT_EQ(!transfers().empty(), c.fetched);
    EXPECT_EQ(TempDir::read(repoFolder() / c.file), c.fetched ? remote : c.localContents);
    ASSERT_TRUE(fs::exists(sidecar(c.file)));
    const auto sidecarAfter = TempDir::read(sidecar(c.file));
    if (c.sidecarRewritten) {
      const auto sidecarLines = lines(sidecarAfter);
      ASSERT_EQ(sidecarLines.size(), 3u);
      EXPECT_EQ(sidecarLines[0], hub_.commit());
    } else {
      EXPECT_EQ(sidecarAfter, sidecarBefore);
    }
  }
}

TEST_F(SnapshotTest, OnlyAWellFormedCommitVouchesForALocalFile) {
  const std::string upper = "0123456789ABCDEF0123456789ABCDEF01234567";
  const std::string shortCommit = "0123456789abcdef";
  for (const std::string &commit : {upper, shortCommit}) {
    SCOPED_TRACE(commit);
    fs::remove_all(dir_ / "cache");
    hub_.clearFaults();
    TestHub::Fault head = TestHub::Fault::answering(200, "/owner/model/resolve/main/small.txt");
    head.method = "HEAD";
    head.headers = {{"X-Repo-Commit", commit},
                    {"ETag", "\"" + TestHub::gitBlobSha1Hex(small_) + "\""},
                    {"Content-Length", std::to_string(small_.size())}};
    hub_.addFault(head);
    // The sidecar names the very commit the hub answers, but that commit is not a commit id.
    writeFile(repoFolder() / "small.txt", "edited locally");
    writeFile(sidecar("small.txt"), commit + "\nold-etag\n1700000000.0\n");
    hub_.clearRequests();

    client().snapshot(kRepo, "main", {"small.txt"});

    EXPECT_EQ(transfers().size(), 1u);
    EXPECT_EQ(TempDir::read(repoFolder() / "small.txt"), small_);
    const auto sidecarLines = lines(TempDir::read(sidecar("small.txt")));
    ASSERT_EQ(sidecarLines.size(), 3u);
    EXPECT_EQ(sidecarLines[0], commit);
    EXPECT_EQ(sidecarLines[1], TestHub::gitBlobSha1Hex(small_));
  }
}

TEST_F(SnapshotTest, ANameListedManyTimesIsFetchedOnce) {
  std::string siblings = R"({"rfilename":"config.json"})";
  for (int i = 0; i < 2000; ++i) {
    siblings += R"(,{"rfilename":"small.txt"})";
  }
  TestHub::Fault listing = TestHub::Fault::answering(200, "/api/models/" + kRepo.id);
  listing.body = R"({"siblings":[)" + siblings + "]}";
  hub_.addFault(listing);
  std::shared_ptr<Progress> lastParent;
  client().snapshot(kRepo, "main", {}, [&](const auto &parent) { lastParent = parent; });

  EXPECT_EQ(TempDir::read(repoFolder() / "small.txt"), small_);
  int smallRequests = 0;
  for (const auto &request : hub_.requests()) {
    smallRequests += request.path.ends_with("/small.txt");
  }
  EXPECT_EQ(smallRequests, 2) << "one HEAD and one GET";
  ASSERT_NE(lastParent, nullptr);
  EXPECT_EQ(lastParent->totalUnitCount(), 2);
}

TEST_F(SnapshotTest, AnEmptyFileIsFetchedRecordedAndThenKept) {
  hub_.addFile("models", kRepo.id, "empty.txt", "");
  client().snapshot(kRepo, "main", {"empty.txt"});
  EXPECT_TRUE(fs::is_regular_file(repoFolder() / "empty.txt"));
  EXPECT_EQ(fs::file_size(repoFolder() / "empty.txt"), 0u);
  const auto sidecarLines = lines(TempDir::read(sidecar("empty.txt")));
  ASSERT_EQ(sidecarLines.size(), 3u);
  EXPECT_EQ(sidecarLines[1], TestHub::gitBlobSha1Hex(""));

  hub_.clearRequests();
  client().snapshot(kRepo, "main", {"empty.txt"});
  EXPECT_TRUE(transfers().empty());
}

TEST_F(SnapshotTest, NoMatchingFileGivesOneHandlerCallAndTheFolder) {
  int calls = 0;
  const auto folder = client().snapshot(kRepo, "main", {"*.nothing"}, [&](const auto &parent) {
    ++calls;
    EXPECT_EQ(parent->totalUnitCount(), 0);
  });
  EXPECT_EQ(folder, repoFolder());
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(fs::exists(folder));
}

TEST_F(SnapshotTest, OfflineRunVerifiesLocalFilesAgainstTheirSidecars) {
  struct Case {
    const char *name;
    std::function<void()> arrange;
    std::string expectedError; // empty: the folder is returned
  };
  const auto online = [&] { client().snapshot(kRepo, "main"); };
  const Case cases[] = {
      {"missing folder", [] {}, "Offline mode error: Repository not available locally"},
      {"only hidden files", [&] { writeFile(sidecar("x"), "a\nb\n1.0\n"); },
       "Offline mode error: No files available locally for this repository"},
      {"intact copy", online, ""},
      {"file without sidecar",
       [&] {
         online();
         writeFile(repoFolder() / "extra" / "notes.md", "x");
       },
       "Offline mode error: Metadata not available for notes.md"},
      {"damaged sidecar is removed and reported missing",
       [&] {
         online();
         writeFile(sidecar("small.txt"), "only one line\n");
       },
       "Offline mode error: Metadata not available for small.txt"},
      {"changed file with a SHA-256 ETag",
       [&] {
         online();
         writeFile(repoFolder() / "sub/dir/weights.bin", "bad");
       },
       "File integrity check failed: Hash mismatch for weights.bin"},
      {"changed file with a commit-style ETag is not hashed",
       [&] {
         online();
         writeFile(repoFolder() / "small.txt", "changed");
       },
       ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_ / "cache");
    c.arrange();
    hub_.clearRequests();
    if (c.expectedError.empty()) {
      EXPECT_EQ(client(/*offline=*/true).snapshot(kRepo, "main"), repoFolder());
    } else {
      const auto error = expectThrows<HubApi::EnvironmentError>(
          [&] { client(/*offline=*/true).snapshot(kRepo, "main"); });
      EXPECT_EQ(error.what(), c.expectedError);
    }
    EXPECT_TRUE(hub_.requests().empty());
  }
  EXPECT_FALSE(fs::exists(sidecar("small.txt.metadata")));
}

TEST_F(SnapshotTest, ADownloadBaseRelativeToTheWorkingFolderWorksOnBothRoads) {
  struct WorkingFolder {
    fs::path previous = fs::current_path();
    explicit WorkingFolder(const fs::path &folder) { fs::current_path(folder); }
    ~WorkingFolder() { fs::current_path(previous); }
  } inDir(dir_.path());
  auto relativeClient = [&](bool offline) {
    HubApi::Settings settings;
    settings.downloadBase = fs::path("cache");
    settings.hfToken = "";
    settings.endpoint = hub_.baseUrl();
    settings.useOfflineMode = offline;
    return HubApi(settings);
  };
  const fs::path folder = fs::path("cache") / "models" / "owner" / "model";
  EXPECT_EQ(relativeClient(false).snapshot(kRepo, "main"), folder);
  EXPECT_EQ(TempDir::read(repoFolder() / "small.txt"), small_);
  EXPECT_EQ(relativeClient(true).snapshot(kRepo, "main"), folder);
  writeFile(repoFolder() / "sub" / "dir" / "weights.bin", "bad");
  const auto error =
      expectThrows<HubApi::EnvironmentError>([&] { relativeClient(true).snapshot(kRepo, "main"); });
  EXPECT_STREQ(error.what(), "File integrity check failed: Hash mismatch for weights.bin");
}

TEST(SnapshotProgressTest, FileProgressTakesClampedHundredthsAndThroughput) {
  struct Case {
    double fraction;
    std::optional<double> speed;
    int64_t expectedUnits;
  };
  const Case cases[] = {
      {0.426, std::nullopt, 42},       {1.0, 2048.0, 100},
      {1.7, std::nullopt, 100},        {-0.5, std::nullopt, 0},
      {std::nan(""), std::nullopt, 0}, {std::numeric_limits<double>::infinity(), 10.0, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.fraction);
    auto parent = Progress::make(1);
    auto file = Progress::make(100, parent, 1);
    parent->setUserInfoObject(deduve::kProgressThroughputKey, 1.0);
    int calls = 0;
    HubApi::updateDownloadProgress(c.fraction, c.speed, *file, parent, [&](const auto &given) {
      ++calls;
      EXPECT_EQ(given, parent);
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(file->completedUnitCount(), c.expectedUnits);
    EXPECT_GE(parent->fractionCompleted(), 0.0);
    EXPECT_LE(parent->fractionCompleted(), 1.0);
    EXPECT_EQ(parent->throughput(), c.speed.value_or(1.0));
    EXPECT_EQ(file->throughput(), c.speed);
  }
}

} // namespace
