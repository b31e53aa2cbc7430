#include "DeduveCore/Hub/HubApi.hpp"

#include "tests/DeduveCore/Hub/SnapshotTestSupport.hpp"

#include <gtest/gtest.h>

#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using deduve::HubApi;
using mqtest::TempDir;
using mqtest::TestHub;
using snapshottest::expectThrows;
using snapshottest::kOtherCommit;
using snapshottest::kRepo;
using snapshottest::SnapshotTest;
using snapshottest::writeFile;

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

} // namespace
