#include "DivuvovIze/Models/DecodingInputs.hpp"
#include "DivuvovIze/Models/DecodingResult.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace divuvovize {
namespace {

using platform::MLMultiArray;
using platform::MLMultiArrayDataType;

// Inputs shaped as the decoder makes them, with `positions` cache positions, every mask
// entry first set to a value reset must overwrite.
DecodingInputs makeInputs(int positions) {
  MLMultiArray cacheLength({1}, MLMultiArrayDataType::int32, std::int32_t{7});
  MLMultiArray updateMask({1, positions}, MLMultiArrayDataType::int32, std::int32_t{5});
  MLMultiArray paddingMask({1, positions}, MLMultiArrayDataType::float16, 3.0f);
  MLMultiArray keyCache({1, 4, 1, positions}, MLMultiArrayDataType::float16, 0.5f);
  return DecodingInputs(
      {50258, 50259}, MLMultiArray({1}, MLMultiArrayDataType::int32, std::int32_t{42}), cacheLength,
      keyCache, keyCache.deepCopy(),
      MLMultiArray({positions, 8}, MLMultiArrayDataType::float16, 0.25f), updateMask, paddingMask);
}

TEST(DecodingInputsTest, ResetEmptiesTheCacheOverTheContext) {
  auto inputs = makeInputs(224);
  inputs.reset(224);
  EXPECT_EQ(inputs.cacheLength().value(0), 0.0);
  EXPECT_EQ(inputs.decoderKeyPaddingMask().value(0), 0.0);
  EXPECT_EQ(inputs.kvCacheUpdateMask().value(0), 1.0);
  for (int i = 1; i < 224; ++i) {
    ASSERT_EQ(inputs.decoderKeyPaddingMask().value(i), -10000.0) << "index " << i;
    ASSERT_EQ(inputs.kvCacheUpdateMask().value(i), 0.0) << "index " << i;
  }
  // Everything else is kept.
  EXPECT_EQ(inputs.initialPrompt(), (std::vector<int>{50258, 50259}));
  EXPECT_EQ(inputs.inputIds().value(0), 42.0);
  EXPECT_EQ(inputs.keyCache().value(3), 0.5);
  EXPECT_EQ(inputs.alignmentWeights().value(0), 0.25);
}

TEST(DecodingInputsTest, ResetWritesOnlyWithinTheRequestedAndAvailablePositions) {
  struct Case {
    int positions; // size of the masks
    int context;   // maxTokenContext asked for
    int cleared;   // positions reset must touch
  };
  const std::vector<Case> cases = {
      {8, 1, 1},   // only the first entries
      {8, 4, 4},   // later entries keep their values
      {8, 448, 8}, // more than the masks hold: clamped, nothing written past the end
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.positions << " positions, context " << c.context);
    auto inputs = makeInputs(c.positions);
    inputs.reset(c.context);
    EXPECT_EQ(inputs.kvCacheUpdateMask().value(0), 1.0);
    EXPECT_EQ(inputs.decoderKeyPaddingMask().value(0), 0.0);
    for (int i = 1; i < c.positions; ++i) {
      const bool cleared = i < c.cleared;
      EXPECT_EQ(inputs.kvCacheUpdateMask().value(i), cleared ? 0.0 : 5.0) << i;
      EXPECT_EQ(inputs.decoderKeyPaddingMask().value(i), cleared ? -10000.0 : 3.0) << i;
    }
  }
}

TEST(DecodingFallbackTest, VerdictTable) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const DecodingOptions defaults;
  DecodingOptions noSilenceTest;
  noSilenceTest.noSpeechThreshold.reset();
  DecodingOptions noThresholds;
  noThresholds.noSpeechThreshold.reset();
  noThresholds.compressionRatioThreshold.reset();
  noThresholds.logProbThreshold.reset();

  struct Case {
    const char *name;
    const DecodingOptions &options;
    bool lowFirstToken;
    float noSpeech;
    float ratio;
    float avgLogProb;
    std::optional<DecodingFallback> verdict;
  };
  const std::vector<Case> cases = {
      {"low first token wins", defaults, true, 0.7f, 3.0f, -0.1f,
       DecodingFallback{true, "firstTokenLogProbThreshold"}},
      {"silence before compression", defaults, false, 0.7f, 3.0f, -0.1f,
       DecodingFallback{false, "silence"}},
      {"compression", defaults, false, 0.1f, 3.0f, -5.0f,
       DecodingFallback{true, "compressionRatioThreshold"}},
      {"log probability", defaults, false, 0.1f, 1.0f, -1.01f,
       DecodingFallback{true, "logProbThreshold"}},
      {"equal log probability passes", defaults, false, 0.1f, 1.0f, -1.0f, std::nullopt},
      {"equal ratio passes", defaults, false, 0.1f, 2.4f, -0.5f, std::nullopt},
      {"no silence test", noSilenceTest, false, 0.99f, 1.0f, -0.5f, std::nullopt},
      {"NaN passes every test", defaults, false, nan, nan, nan, std::nullopt},
      {"thresholds off", noThresholds, false, 0.99f, 100.0f, -100.0f, std::nullopt},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodingFallback::make(c.options, c.lowFirstToken, c.noSpeech, c.ratio, c.avgLogProb),
              c.verdict);
  }
}

TEST(DecodingResultTest, EmptyResultsHaveNoTimings) {
  const auto empty = DecodingResult::emptyResults();
  EXPECT_EQ(empty.language, "");
  EXPECT_TRUE(empty.tokens.empty());
  EXPECT_EQ(empty.avgLogProb, 0.0f);
  EXPECT_FALSE(empty.timings.has_value());
  EXPECT_FALSE(empty.cache.has_value());
  EXPECT_FALSE(empty.fallback.has_value());
}

} // namespace
} // namespace divuvovize
