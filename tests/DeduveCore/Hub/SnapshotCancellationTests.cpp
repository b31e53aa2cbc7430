#include "DeduveCore/Hub/HubApi.hpp"

#include "platform/net/UrlError.hpp"
#include "tests/DeduveCore/Hub/SnapshotTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using deduve::HubApi;
using mqtest::TempDir;
using mqtest::TestHub;
using platform::CancellationToken;
using snapshottest::expectThrows;
using snapshottest::kMiB;
using snapshottest::kRepo;
using snapshottest::patterned;
using snapshottest::SnapshotTest;
using snapshottest::writeFile;

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

} // namespace
