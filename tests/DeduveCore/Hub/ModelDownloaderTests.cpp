#include "DeduveCore/Hub/ModelDownloader.hpp"

#include "tests/support/ErrorText.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHub.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

namespace fs = std::filesystem;
using deduve::ModelDownloadConfig;
using deduve::ModelDownloader;
using deduve::ModelInfo;
using deduve::ModelState;
using mqtest::TempDir;
using mqtest::TestHub;

const std::string kRepo = "owner/speech-models";
const ModelInfo kInfo{"v1", "base", "tiny", platform::MLComputeUnits::all};

class ModelDownloaderTest : public testing::Test {
protected:
  void SetUp() override {
    // The shared network state must not decide for a loopback hub.
    setenv("CI_DISABLE_NETWORK_MONITOR", "1", 1);
    hub.addFile("models", kRepo, "tiny/v1/base/MelSpectrogram.mlmodelc/model.json", "{}");
    hub.addFile("models", kRepo, "tiny/v1/base/MelSpectrogram.mlmodelc/weights.bin", "abc");
    hub.addFile("models", kRepo, "other/v1/base/Decoder.mlmodelc/model.json", "{}");
  }

  ModelDownloader downloader(std::optional<fs::path> modelFolder = std::nullopt) const {
    return ModelDownloader(ModelDownloadConfig{
        temp / "cache", kRepo, std::nullopt, std::move(modelFolder), false, hub.baseUrl(), "main"});
  }

  // Runs resolveModel and returns the states it reported.
  std::vector<ModelState> resolve(const ModelDownloader &d, const std::string &name, bool download,
                                  fs::path *url = nullptr) const {
    std::vector<ModelState> states;
    const fs::path found = d.resolveModel(name, kInfo, std::nullopt, std::nullopt, download,
                                          [&](ModelState s) { states.push_back(s); });
    if (url) {
      *url = found;
    }
    return states;
  }

  TempDir temp;
  TestHub hub{temp / "hub"};
};

using mqtest::errorText;

TEST_F(ModelDownloaderTest, ExplicitFolderWinsWithoutTouchingTheHub) {
  const fs::path local = temp / "local";
  fs::create_directories(local / "tiny/v1/base/MelSpectrogram.mlmodelc");
  fs::path url;
  EXPECT_TRUE(resolve(downloader(local), "MelSpectrogram", true, &url).empty());
  EXPECT_EQ(url, local / "tiny/v1/base/MelSpectrogram.mlmodelc");
  EXPECT_TRUE(hub.requests().empty());

  // The argument is the only folder searched when given.
  const auto d = downloader(local);
  EXPECT_EQ(errorText([&] {
              d.resolveModel("MelSpectrogram", kInfo, temp / "elsewhere", std::nullopt, false);
            }),
            "No model found for MelSpectrogram (download disabled)");
}

TEST_F(ModelDownloaderTest, DownloadsOnceThenFindsTheLocalCopy) {
  const auto d = downloader();
  fs::path url;
  EXPECT_EQ(resolve(d, "MelSpectrogram", true, &url),
            (std::vector<ModelState>{ModelState::downloading, ModelState::downloaded}));
  EXPECT_EQ(url, temp / "cache/models" / kRepo / "tiny/v1/base/MelSpectrogram.mlmodelc");
  EXPECT_EQ(TempDir::read(url / "weights.bin"), "abc");
  // Only the model's own files came.
  EXPECT_FALSE(fs::exists(temp / "cache/models" / kRepo / "other"));

  EXPECT_EQ(resolve(d, "MelSpectrogram", false), std::vector<ModelState>{ModelState::downloaded});
}

TEST_F(ModelDownloaderTest, MissingModelIsReportedAfterTheDownload) {
  const auto d = downloader();
  std::vector<ModelState> states;
  EXPECT_EQ(errorText([&] {
              d.resolveModel("AudioEncoder", kInfo, std::nullopt, std::nullopt, true,
                             [&](ModelState s) { states.push_back(s); });
            }),
            "No model found for AudioEncoder");
  EXPECT_EQ(states, std::vector<ModelState>{ModelState::downloading});
}

TEST_F(ModelDownloaderTest, NoLocalCopyAndNoDownloadIsRefused) {
  EXPECT_EQ(errorText([&] { resolve(downloader(), "MelSpectrogram", false); }),
            "No model found for MelSpectrogram (download disabled)");
  EXPECT_FALSE(fs::exists(temp / "cache/models" / kRepo / "tiny/v1/base/MelSpectrogram.mlmodelc"));
}

TEST_F(ModelDownloaderTest, OfflineListingWithoutMatchesIsModelUnavailable) {
  const ModelInfo absent{std::nullopt, std::nullopt, "large", platform::MLComputeUnits::all};
  EXPECT_EQ(errorText([&] { downloader().downloadModel(absent, std::nullopt, true); }),
            "No models found matching \"large/*/*/*\" in " + kRepo);
}

TEST_F(ModelDownloaderTest, ResolveRepoDecidesFromLocalFolders) {
  const auto d = downloader();
  const fs::path local = d.localRepoLocation();
  EXPECT_EQ(local, temp / "cache/models" / kRepo);

  // No patterns: the local folder at once, existing or not.
  EXPECT_EQ(d.resolveRepo({}), local);
  EXPECT_TRUE(hub.requests().empty());

  // A leading wildcard can never be found locally.
  EXPECT_EQ(errorText([&] { d.resolveRepo({"*/v1/*"}, std::nullopt, false); }),
            "No local models found for repo '" + kRepo + "' and download is disabled.");

  int reports = 0;
  EXPECT_EQ(d.resolveRepo({"tiny/v1/*"}, std::nullopt, true,
                          [&](const std::shared_ptr<deduve::Progress> &) { ++reports; }),
            local);
  EXPECT_GT(reports, 0);
  EXPECT_TRUE(fs::exists(local / "tiny/v1/base/MelSpectrogram.mlmodelc/model.json"));

  hub.clearRequests();
  EXPECT_EQ(d.resolveRepo({"tiny/v1/*"}, std::nullopt, false), local);
  EXPECT_TRUE(hub.requests().empty());
  // A plain file is not a folder with entries.
  EXPECT_EQ(errorText([&] {
              d.resolveRepo({"tiny/v1/base/MelSpectrogram.mlmodelc/model.json"}, std::nullopt,
                            false);
            }),
            "No local models found for repo '" + kRepo + "' and download is disabled.");
}

TEST_F(ModelDownloaderTest, FetchFilenamesListsMatchingNames) {
  EXPECT_EQ(downloader().fetchFilenames({"other/*"}),
            std::vector<std::string>{"other/v1/base/Decoder.mlmodelc/model.json"});
}

} // namespace
