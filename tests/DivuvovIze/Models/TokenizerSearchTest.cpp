#include "DivuvovIze/Models/ModelUtilities.hpp"

#include "DeduveCore/Support/Logging.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

namespace fs = std::filesystem;
using deduve::Logging;
using divuvovize::ModelUtilities;
using divuvovize::ModelVariant;

struct VariantCase {
  int logitsSize;
  int embedSize;
  ModelVariant variant;
  const char *repository;
};

class ModelVariantByDimensionsTest : public testing::TestWithParam<VariantCase> {};

TEST_P(ModelVariantByDimensionsTest, VariantAndTokenizerRepository) {
  const auto &c = GetParam();
  const ModelVariant variant = ModelUtilities::modelVariant(c.logitsSize, c.embedSize);
  EXPECT_EQ(variant, c.variant);
  EXPECT_EQ(ModelUtilities::tokenizerRepositoryID(variant), c.repository);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ModelVariantByDimensionsTest,
    testing::Values(VariantCase{51864, 384, ModelVariant::tinyEn, "openai/whisper-tiny.en"},
                    VariantCase{51864, 512, ModelVariant::baseEn, "openai/whisper-base.en"},
                    VariantCase{51864, 640, ModelVariant::baseEn, "openai/whisper-base.en"},
                    VariantCase{51864, 1024, ModelVariant::mediumEn, "openai/whisper-medium.en"},
                    VariantCase{51865, 768, ModelVariant::small, "openai/whisper-small"},
                    VariantCase{51865, 1280, ModelVariant::largev2, "openai/whisper-large-v2"},
                    VariantCase{51865, 999, ModelVariant::base, "openai/whisper-base"},
                    VariantCase{51866, 7, ModelVariant::largev3, "openai/whisper-large-v3"},
                    VariantCase{50000, 384, ModelVariant::base, "openai/whisper-base"}));

class LogLines {
public:
  LogLines() {
    Logging::updateLogLevel(Logging::LogLevel::debug);
    Logging::updateCallback([this](const std::string &line) { lines.push_back(line); });
  }
  ~LogLines() {
    Logging::updateCallback({});
    Logging::updateLogLevel(Logging::LogLevel::none);
  }
  std::vector<std::string> lines;
};

TEST(ModelVariantByDimensionsTest, UnknownVocabularyIsLogged) {
  LogLines logs;
  ModelUtilities::modelVariant(50000, 384);
  EXPECT_EQ(logs.lines, std::vector<std::string>{
                            "Unrecognized vocabulary size: 50000, defaulting to base variant"});
}

TEST(TokenizerSearchTest, FirstCandidateWithTheFileWinsInOrder) {
  mqtest::TempDir temp;
  temp.write("model/tokenizer.json", "{}");
  temp.write("later/tokenizer.json", "{}");
  // A directory named like the file counts too: the test is by path only.
  fs::create_directories(temp / "odd/tokenizer.json");
  LogLines logs;
  EXPECT_EQ(ModelUtilities::findLocalTokenizerFolder(temp / "hub", std::nullopt,
                                                     {temp / "model", temp / "later"}),
            temp / "model");
  EXPECT_EQ(logs.lines, (std::vector<std::string>{
                            "Checking for local tokenizer at " +
                                (temp / "hub/tokenizer.json").string() + " - not found",
                            "Checking for local tokenizer at " +
                                (temp / "model/tokenizer.json").string() + " - found",
                            "Found local tokenizer at " + (temp / "model").string(),
                        }));
  EXPECT_EQ(ModelUtilities::findLocalTokenizerFolder(temp / "hub", temp / "odd", {temp / "model"}),
            temp / "odd");
  EXPECT_EQ(ModelUtilities::findLocalTokenizerFolder(temp / "hub", std::nullopt, {}), std::nullopt);
  EXPECT_EQ(logs.lines.back(), "No tokenizer found in any local search paths");
}

} // namespace
