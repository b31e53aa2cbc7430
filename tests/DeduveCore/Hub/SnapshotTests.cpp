#include "DeduveCore/Hub/HubApi.hpp"

#include "DeduveCore/Hub/Downloader.hpp"
#include "DeduveCore/Hub/HubFileDownloader.hpp"
#include "platform/net/UrlError.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHub.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using deduve::Downloader;
using deduve::HubApi;
using deduve::Progress;
using mqtest::TempDir;
using mqtest::TestHub;
using platform::CancellationToken;
using platform::UrlError;

constexpr size_t kMiB = 1024 * 1024;
const HubApi::Repo kRepo{"owner/model", HubApi::RepoType::models};
const std::string kOtherCommit(40, 'f');

std::string patterned(size_t size, uint32_t seed = 7) {
  std::string bytes(size, '\0');
  uint32_t x = seed;
  for (auto &byte : bytes) {
    x = x * 1664525u + 1013904223u;
    byte = static_cast<char>(x >> 24);
  }
  return bytes;
}

void writeFile(const fs::path &file, const std::string &contents) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << contents;
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> result;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    result.push_back(text.substr(start, end - start));
  }
  return result;
}

template <class Error, class F> Error expectThrows(F &&f) {
  try {
    f();
  } catch (const Error &error) {
    return error;
  } catch (const std::exception &other) {
    ADD_FAILURE() << "unexpected error: " << other.what();
    throw;
  }
  ADD_FAILURE() << "nothing thrown";
  throw std::logic_error("nothing thrown");
}

class SnapshotTest : public ::testing::Test {
protected:
  SnapshotTest() : hub_(dir_ / "hub") {
    small_ = patterned(3000, 1);
    config_ = R"({"model_type": "whisper"})";
    large_ = patterned(2 * kMiB + 123, 2); // served through the CDN, SHA-256 ETag
    hub_.addFile("models", kRepo.id, "config.json", config_);
    hub_.addFile("models", kRepo.id, "small.txt", small_);
    hub_.addFile("models", kRepo.id, "sub/dir/weights.bin", large_);
  }

  HubApi client(bool offline = false) const {
    HubApi::Settings settings;
    settings.downloadBase = dir_ / "cache";
    settings.hfToken = "";
    settings.endpoint = hub_.baseUrl();
    settings.useOfflineMode = offline;
    return HubApi(settings);
  }

  fs::path repoFolder() const { return dir_ / "cache" / "models" / "owner" / "model"; }
  fs::path metadataFolder() const { return repoFolder() / ".cache" / "huggingface" / "download"; }
  fs::path sidecar(const std::string &name) const {
    return metadataFolder() / (name + ".metadata");
  }

  // Requests other than the listing and HEADs: file transfers.
  std::vector<TestHub::Request> transfers() const {
    std::vector<TestHub::Request> result;
    for (const auto &request : hub_.requests()) {
      if (request.method == "GET" && request.path.rfind("/api/", 0) != 0) {
        result.push_back(request);
      }
    }
    return result;
  }

  TempDir dir_;
  TestHub hub_;
  std::string small_, config_, large_;
};

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

TEST_F(SnapshotTest, FailedTransfersRecordNothingAndTheNextRunRecovers) {
  const std::string largeSha = TestHub::sha256Hex(large_);
  const auto partialOfLarge =
      metadataFolder() / "sub" / "dir" / ("weights.bin." + largeSha + ".incomplete");
  struct Case {
    const char *name;
    std::vector<TestHub::Fault> faults;
    std::string plantedPartial; // written before the run, when not empty
    std::string expectedError;
  };
  TestHub::Fault wrongDigest = TestHub::Fault::answering(302, "/owner/model/resolve/");
  wrongDigest.method = "HEAD";
  wrongDigest.headers = {{"X-Repo-Commit", hub_.commit()},
                         {"X-Linked-Etag", "\"" + TestHub::sha256Hex("something else") + "\""},
                         {"X-Linked-Size", std::to_string(large_.size())},
                         {"Location", hub_.cdnBaseUrl() + "/cdn/models/owner/model/x"}};
  TestHub::Fault shortBody = TestHub::Fault::answering(200, "/cdn/");
  shortBody.method = "GET";
  shortBody.body = "short";
  const Case cases[] = {
      {"digest of the transferred bytes differs from the ETag",
       {wrongDigest},
       "",
       "File integrity check failed: Hash mismatch for weights.bin"},
      {"body shorter than the announced size", {shortBody}, "", "Download error"},
      {"partial file longer than the remote file: 416", {}, large_ + "tail", "Download error"},
      {"file server answers 404", {TestHub::Fault::answering(404, "/cdn/")}, "", "Download error"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_ / "cache");
    hub_.clearFaults();
    for (const auto &fault : c.faults) {
      hub_.addFault(fault);
    }
    if (!c.plantedPartial.empty()) {
      writeFile(partialOfLarge, c.plantedPartial);
    }

    std::string message;
    try {
      client().snapshot(kRepo, "main", {"sub/dir/weights.bin"});
      ADD_FAILURE() << "nothing thrown";
    } catch (const std::exception &error) {
      message = error.what();
    }
    EXPECT_NE(message.find(c.expectedError), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(repoFolder() / "sub" / "dir" / "weights.bin"));
    EXPECT_FALSE(fs::exists(sidecar("sub/dir/weights.bin")));
    if (!c.plantedPartial.empty()) {
      EXPECT_FALSE(fs::exists(partialOfLarge)); // the next attempt starts clean
    }

    hub_.clearFaults();
    client().snapshot(kRepo, "main", {"sub/dir/weights.bin"});
    EXPECT_EQ(TempDir::read(repoFolder() / "sub" / "dir" / "weights.bin"), large_);
    EXPECT_TRUE(fs::exists(sidecar("sub/dir/weights.bin")));
  }
}

TEST_F(SnapshotTest, CancelledTransferKeepsItsPartialFileAndTheNextRunResumesIt) {
  const std::string big = patterned(21 * kMiB, 3);
  hub_.addFile("models", kRepo.id, "big.bin", big);
  hub_.addFault(TestHub::Fault::stallingAfter(20 * kMiB, "/cdn/").times(1));

  CancellationToken token;
  std::vector<double> fractions;
  const auto error = expectThrows<platform::UrlError>([&] {
    client().snapshot(
        kRepo, "main", {"big.bin"},
        [&](const auto &parent) {
          fractions.push_back(parent->fractionCompleted());
          if (parent->fractionCompleted() >= 0.9) {
            token.cancel();
          }
        },
        token);
  });
  EXPECT_EQ(error.code(), platform::UrlError::Code::cancelled);
  ASSERT_GE(fractions.size(), 3u);
  EXPECT_DOUBLE_EQ(fractions.back(), 0.95); // 20 of 21 MiB, in whole hundredths
  const auto partial = metadataFolder() / ("big.bin." + TestHub::sha256Hex(big) + ".incomplete");
  EXPECT_EQ(fs::file_size(partial), 20 * kMiB);
  EXPECT_FALSE(fs::exists(repoFolder() / "big.bin"));
  EXPECT_FALSE(fs::exists(sidecar("big.bin")));

  hub_.clearRequests();
  client().snapshot(kRepo, "main", {"big.bin"});
  EXPECT_EQ(TempDir::read(repoFolder() / "big.bin"), big);
  ASSERT_EQ(transfers().size(), 2u); // the resolve redirect, then the CDN
  EXPECT_EQ(transfers()[1].header("Range"), "bytes=20971520-");
  EXPECT_FALSE(fs::exists(partial));
}

TEST_F(SnapshotTest, CancellationBeforeOrBetweenFilesIsReportedInsteadOfAPartialFolder) {
  // Cancelled before the first file.
  CancellationToken early;
  early.cancel();
  auto error =
      expectThrows<platform::UrlError>([&] { client().snapshot(kRepo, "main", {}, {}, early); });
  EXPECT_EQ(error.code(), platform::UrlError::Code::cancelled);
  EXPECT_TRUE(transfers().empty());
  EXPECT_TRUE(hub_.requests().empty());
  // Offline, the check of an intact copy stops the same way.
  client().snapshot(kRepo, "main");
  error = expectThrows<platform::UrlError>(
      [&] { client(/*offline=*/true).snapshot(kRepo, "main", {}, {}, early); });
  EXPECT_EQ(error.code(), platform::UrlError::Code::cancelled);

  // Cancelled as the third file's step begins: the damaged sidecar of that file makes the step
  // log a line, which cancels. Its metadata request is then never sent, and neither is any
  // request for the files after it.
  hub_.addFile("models", kRepo.id, "zz.txt", "last");
  client().snapshot(kRepo, "main");
  fs::remove(repoFolder() / "zz.txt");
  writeFile(sidecar("sub/dir/weights.bin"), "damaged\n");
  CancellationToken token;
  const auto previousSink = HubApi::setLogSink([&](const std::string &) { token.cancel(); });
  hub_.clearRequests();
  error =
      expectThrows<platform::UrlError>([&] { client().snapshot(kRepo, "main", {}, {}, token); });
  HubApi::setLogSink(previousSink);
  EXPECT_EQ(error.code(), platform::UrlError::Code::cancelled);
  EXPECT_FALSE(fs::exists(sidecar("sub/dir/weights.bin"))); // removed as damaged, not rewritten
  EXPECT_EQ(TempDir::read(repoFolder() / "sub" / "dir" / "weights.bin"), large_);
  EXPECT_FALSE(fs::exists(repoFolder() / "zz.txt"));
  int heads = 0;
  for (const auto &request : hub_.requests()) {
    heads += request.method == "HEAD";
    EXPECT_EQ(request.path.find("weights.bin"), std::string::npos) << request.path;
    EXPECT_EQ(request.path.find("zz.txt"), std::string::npos) << request.path;
  }
  EXPECT_EQ(heads, 2); // config.json and small.txt
}

TEST_F(SnapshotTest, CancellationReachesAListingOrMetadataRequestTheServerHoldsBack) {
  struct Case {
    const char *name;
    std::string method;
    std::string pathPrefix;
  };
  const Case cases[] = {
      {"listing", "GET", "/api/"},
      {"metadata of the first file", "HEAD", "/owner/model/resolve/"},
  };
  std::size_t stalls = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    hub_.clearFaults();
    hub_.clearRequests();
    auto stall = TestHub::Fault::stallingAfter(0, c.pathPrefix).times(1);
    stall.method = c.method;
    hub_.addFault(stall);
    CancellationToken token;
    const std::size_t expectedStalls = ++stalls;
    std::thread canceller([&] {
      hub_.waitForStalls(expectedStalls);
      token.cancel();
    });
    std::optional<platform::UrlError::Code> code;
    try {
      client().snapshot(kRepo, "main", {}, {}, token);
    } catch (const platform::UrlError &error) {
      code = error.code();
    } catch (const std::exception &error) {
      ADD_FAILURE() << error.what();
    }
    if (!token.isCancelled()) {
      hub_.releaseStalls(); // the request never stalled: free the canceller
    }
    canceller.join();
    EXPECT_EQ(code, platform::UrlError::Code::cancelled);
    EXPECT_TRUE(transfers().empty());
    EXPECT_FALSE(fs::exists(repoFolder() / "config.json"));
  }
}

TEST_F(SnapshotTest, ServerErrorsPassThroughUnchanged) {
  hub_.addFault(TestHub::Fault::answering(404, "/owner/model/resolve/main/small.txt"));
  const auto error = expectThrows<deduve::Hub::HubClientError>(
      [&] { client().snapshot(kRepo, "main", {"small.txt"}); });
  EXPECT_EQ(error.kind(), deduve::Hub::HubClientError::Kind::fileNotFound);
  EXPECT_STREQ(error.what(), "File not found: small.txt");

  hub_.clearFaults();
  TestHub::Fault noEtag = TestHub::Fault::answering(200, "/owner/model/resolve/");
  noEtag.method = "HEAD";
  noEtag.headers = {{"X-Repo-Commit", kOtherCommit}, {"Content-Length", "3000"}};
  hub_.addFault(noEtag);
  const auto incomplete = expectThrows<HubApi::EnvironmentError>(
      [&] { client().snapshot(kRepo, "main", {"small.txt"}); });
  EXPECT_STREQ(incomplete.what(),
               "Invalid metadata: File metadata must have been retrieved from server");
}

TEST_F(SnapshotTest, AListingNamingTheClientsBookkeepingFolderIsRefused) {
  client().snapshot(kRepo, "main", {"config.json"});
  const std::string recorded = TempDir::read(sidecar("config.json"));
  // A hostile server lists (and serves) a sidecar of its own choosing.
  hub_.addFile("models", kRepo.id, ".cache/huggingface/download/config.json.metadata",
               kOtherCommit + "\nforged\n1.0\n");
  TestHub::Fault hidden;
  hidden.serveHiddenFiles = true;
  hub_.addFault(hidden);
  hub_.clearRequests();

  const auto error =
      expectThrows<deduve::Hub::HubClientError>([&] { client().snapshot(kRepo, "main"); });
  EXPECT_EQ(error.kind(), deduve::Hub::HubClientError::Kind::parseError);
  EXPECT_NE(std::string(error.what()).find(".cache/huggingface/download/config.json.metadata"),
            std::string::npos)
      << error.what();
  EXPECT_EQ(TempDir::read(sidecar("config.json")), recorded);
  EXPECT_TRUE(transfers().empty());
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
