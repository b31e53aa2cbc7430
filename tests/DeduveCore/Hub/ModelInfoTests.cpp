#include "DeduveCore/Hub/ModelInfo.hpp"

#include <gtest/gtest.h>

namespace {

using deduve::ModelInfo;
using platform::MLComputeUnits;

struct InfoCase {
  std::optional<std::string> version;
  std::optional<std::string> variant;
  const char *pattern;
  const char *description;
  const char *folder;
};

class ModelInfoNamingTest : public testing::TestWithParam<InfoCase> {};

TEST_P(ModelInfoNamingTest, PatternDescriptionAndFolder) {
  const InfoCase &c = GetParam();
  const ModelInfo info{c.version, c.variant, "tiny", MLComputeUnits::all};
  EXPECT_EQ(info.downloadPattern(), c.pattern);
  EXPECT_EQ(info.description(), c.description);
  EXPECT_EQ(info.modelURL("/base").string(), c.folder);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModelInfoNamingTest,
    testing::Values(InfoCase{std::nullopt, std::nullopt, "tiny/*/*/*", "tiny", "/base/tiny"},
                    InfoCase{"v2", std::nullopt, "tiny/v2/*/*", "tiny/v2", "/base/tiny/v2"},
                    // A variant without a version: a wildcard in the pattern, nothing in the
                    // folder.
                    InfoCase{std::nullopt, "q8", "tiny/*/q8/*", "tiny/q8", "/base/tiny/q8"},
                    InfoCase{"v2", "q8", "tiny/v2/q8/*", "tiny/v2/q8", "/base/tiny/v2/q8"}));

TEST(ModelInfoTest, DebugDescriptionShowsNilAndComputeUnitWord) {
  EXPECT_EQ(
      (ModelInfo{std::nullopt, std::nullopt, "tiny", MLComputeUnits::cpuOnly}).debugDescription(),
      "ModelInfo(name: tiny, version: nil, variant: nil, computeUnit: cpuOnly)");
  EXPECT_EQ((ModelInfo{"1", "q8", "tiny", static_cast<MLComputeUnits>(9)}).debugDescription(),
            "ModelInfo(name: tiny, version: 1, variant: q8, computeUnit: unknown)");
}

TEST(ModelInfoTest, FindBaseFolderLooksAtTheUrlThenItsAncestors) {
  const ModelInfo info{std::nullopt, std::nullopt, "tiny", MLComputeUnits::all};
  EXPECT_EQ(info.findBaseFolder("/models/tiny"), std::filesystem::path("/models"));
  EXPECT_EQ(info.findBaseFolder("/models/tiny/v1/q8"), std::filesystem::path("/models"));
  EXPECT_EQ(info.findBaseFolder("/models/tiny/"), std::filesystem::path("/models"));
  EXPECT_EQ(info.findBaseFolder("/models/small/v1"), std::nullopt);
  EXPECT_EQ(info.findBaseFolder("/"), std::nullopt);
  // Case is not folded.
  EXPECT_EQ(info.findBaseFolder("/models/Tiny"), std::nullopt);
}

TEST(ModelInfoTest, FindBaseFolderComparesCanonicallyEquivalentNames) {
  const ModelInfo composed{std::nullopt, std::nullopt, "caf\xC3\xA9", MLComputeUnits::all};
  EXPECT_EQ(composed.findBaseFolder("/m/cafe\xCC\x81/v1"), std::filesystem::path("/m"));
}

} // namespace
