#include "DivuvovIze/Pipeline/DivuvovIze.hpp"

#include "DeduveCore/Support/Logging.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "tests/support/LogCapture.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHub.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using deduve::Logging;
using divuvovize::Constants;
using divuvovize::DivuvovIze;
using divuvovize::WhisperError;
using mqtest::TempDir;
using mqtest::TestHub;

const std::string kRepo = "owner/speech-models";

using mqtest::LogCapture;

class PipelineHubTest : public testing::Test {
protected:
  void SetUp() override { setenv("CI_DISABLE_NETWORK_MONITOR", "1", 1); }

  divuvovize::ModelSupportConfig fetch(const std::string &configName = "config.json") const {
    return DivuvovIze::fetchModelSupportConfig(kRepo, temp / "cache", std::nullopt, configName,
                                               hub.baseUrl());
  }

  TempDir temp;
  TestHub hub{temp / "hub"};
  LogCapture logs;
};

// A support table naming no device this machine can be, so every machine gets its default row:
// every model the document lists.
const char *kSupportDocument = R"({
  "name": "test-models", "version": "1.0",
  "device_support": [{"identifiers": ["NoSuchDevice0"],
                      "models": {"default": "custom_whisper-tiny.en",
                                 "supported": ["custom_whisper-small", "custom_whisper-tiny.en",
                                               "custom_whisper-large-v3", "custom_unrelated"]}}]
})";

TEST_F(PipelineHubTest, UnreachableHubAnswersWithTheBuiltInTable) {
  const auto config = DivuvovIze::fetchModelSupportConfig(kRepo, temp / "cache", std::nullopt,
                                                          "config.json", "http://127.0.0.1:1");
  EXPECT_EQ(config.toJson(), Constants::fallbackModelSupportConfig().toJson());
  EXPECT_TRUE(logs.has("Fetch model support config failed with error: "));
  EXPECT_EQ(DivuvovIze::recommendedRemoteModels(kRepo, temp / "cache", std::nullopt, "config.json",
                                                "http://127.0.0.1:1"),
            DivuvovIze::recommendedModels());
}

TEST_F(PipelineHubTest, MissingDocumentFallsBackWithAnInfoLine) {
  hub.addFile("models", kRepo, "openai_whisper-tiny/model.bin", "x");
  EXPECT_EQ(fetch().toJson(), Constants::fallbackModelSupportConfig().toJson());
  EXPECT_TRUE(
      logs.has("No config files found matching \"config.json\" in " + kRepo + ", using fallback"));
}

TEST_F(PipelineHubTest, RepositoryDocumentDecidesTheAvailableModels) {
  hub.addFile("models", kRepo, "config.json", kSupportDocument);
  EXPECT_EQ(fetch().repoName(), "test-models");
  // The second pattern matches every name; each survivor appears once, smallest first, and a
  // name that is no variant is left out.
  EXPECT_EQ(DivuvovIze::fetchAvailableModels(kRepo, {"*tiny*", "*"}, temp / "cache", std::nullopt,
                                             "config.json", hub.baseUrl()),
            (std::vector<std::string>{"custom_whisper-tiny.en", "custom_whisper-small",
                                      "custom_whisper-large-v3"}));
  EXPECT_TRUE(DivuvovIze::fetchAvailableModels(kRepo, {}, temp / "cache", std::nullopt,
                                               "config.json", hub.baseUrl())
                  .empty());
}

TEST_F(PipelineHubTest, SeveralDocumentsUseTheFirstListed) {
  hub.addFile("models", kRepo, "a.json", kSupportDocument);
  hub.addFile("models", kRepo, "b.json", "{}");
  EXPECT_EQ(fetch("*.json").repoName(), "test-models");
  EXPECT_TRUE(logs.has(
      "Multiple config files found (2): [\"a.json\", \"b.json\"]. Using first matching file: "
      "a.json"));
}

TEST_F(PipelineHubTest, UndecodableDocumentFallsBackAndStaysInTheCache) {
  hub.addFile("models", kRepo, "config.json", std::string(200, '[') + "1");
  EXPECT_EQ(fetch().toJson(), Constants::fallbackModelSupportConfig().toJson());
  EXPECT_TRUE(logs.has("Fetch model support config failed with error: "));
  EXPECT_TRUE(fs::exists(temp / "cache/models" / kRepo / "config.json"));
}

TEST_F(PipelineHubTest, DownloadBringsTheOneMatchingFolder) {
  hub.addFile("models", kRepo, "openai_whisper-base.en/MelSpectrogram.mlmodelc/model.json", "{}");
  hub.addFile("models", kRepo, "openai_whisper-tiny/MelSpectrogram.mlmodelc/model.json", "{}");
  int reports = 0;
  const fs::path folder =
      DivuvovIze::download("openai_whisper-base.en", temp / "cache", false, kRepo, std::nullopt,
                           hub.baseUrl(), [&](const auto &) { ++reports; });
  EXPECT_EQ(folder, temp / "cache/models" / kRepo / "openai_whisper-base.en");
  EXPECT_TRUE(fs::exists(folder / "MelSpectrogram.mlmodelc/model.json"));
  EXPECT_FALSE(fs::exists(temp / "cache/models" / kRepo / "openai_whisper-tiny"));
  EXPECT_GT(reports, 0);
}

TEST_F(PipelineHubTest, SeveralFoldersAreNarrowedToTheReferenceBuild) {
  hub.addFile("models", kRepo, "openai_whisper-base.en/a.bin", "a");
  hub.addFile("models", kRepo, "distil_whisper-base.en/b.bin", "b");
  const fs::path folder = DivuvovIze::download("whisper-base.en", temp / "cache", false, kRepo,
                                               std::nullopt, hub.baseUrl());
  EXPECT_EQ(folder.filename(), "openai_whisper-base.en");
  EXPECT_TRUE(logs.has("Multiple models found matching \"*whisper-base.en/*\""));
}

struct DownloadFailure {
  std::vector<std::string> folders;
  std::string message;
};

class DownloadFailureTest : public PipelineHubTest,
                            public testing::WithParamInterface<DownloadFailure> {};

TEST_P(DownloadFailureTest, NoSingleFolderIsModelsUnavailable) {
  for (const auto &folder : GetParam().folders) {
    hub.addFile("models", kRepo, folder + "/a.bin", "a");
  }
  try {
    DivuvovIze::download("whisper-base.en", temp / "cache", false, kRepo, std::nullopt,
                         hub.baseUrl());
    FAIL() << "no error";
  } catch (const WhisperError &error) {
    EXPECT_EQ(error.errorCase(), WhisperError::Case::modelsUnavailable);
    EXPECT_EQ(std::string(error.what()), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadFailureTest,
    testing::Values(
        DownloadFailure{{"other"},
                        "No models found matching \"*openai*whisper-base.en/*\" in Repo(id: "
                        "\"owner/speech-models\", type: models)"},
        DownloadFailure{{"openai_whisper-base.en", "openai2_whisper-base.en"},
                        "Multiple models found matching \"*openai*whisper-base.en/*\" in Repo(id: "
                        "\"owner/speech-models\", type: models)"}));

} // namespace
