#include <cmath>
#include <limits>
#include <memory>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "DivuvovIze/Decoding/Filters/LanguageLogitsFilter.hpp"
#include "DivuvovIze/Decoding/Filters/SuppressBlankFilter.hpp"
#include "DivuvovIze/Decoding/Filters/SuppressTokensFilter.hpp"
#include "DivuvovIze/Decoding/Filters/TimestampRulesFilter.hpp"

namespace divuvovize {
namespace {

using Ids = std::vector<int>;
constexpr float kMasked = -std::numeric_limits<float>::infinity();

// A small vocabulary laid out like the speech vocabularies: text below 10, end-of-text 10,
// start-of-transcript 11, languages 12-14, translate 15, transcribe 16, start-of-previous 17,
// no-speech 18, no-timestamps 19, timestamps 20-29 (<|0.00|> ... <|0.18|>).
constexpr int kVocabulary = 30;
SpecialTokens smallSpecialTokens() {
  SpecialTokens s;
  s.endToken = 10;
  s.specialTokenBegin = 10;
  s.startOfTranscriptToken = 11;
  s.englishToken = 12;
  s.translateToken = 15;
  s.transcribeToken = 16;
  s.startOfPreviousToken = 17;
  s.noSpeechToken = 18;
  s.noTimestampsToken = 19;
  s.timeTokenBegin = 20;
  s.whitespaceToken = 3;
  return s;
}

platform::MLMultiArray logits(float value = 0.0f) {
  return platform::MLMultiArray({1, 1, kVocabulary}, platform::MLMultiArrayDataType::float32,
                                value);
}

// The ids masked in `array`, ascending.
Ids maskedIds(const platform::MLMultiArray &array) {
  Ids masked;
  const float *data = array.data<float>();
  for (int id = 0; id < array.count(); ++id) {
    if (data[id] == kMasked) {
      masked.push_back(id);
    }
  }
  return masked;
}

Ids range(int lower, int upper) {
  Ids ids;
  for (int id = lower; id < upper; ++id) {
    ids.push_back(id);
  }
  return ids;
}

Ids join(Ids a, const Ids &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(SuppressTokensFilter, MasksEveryListedTokenAtEveryStepAndSkipsIdsOutsideTheVocabulary) {
  const SuppressTokensFilter filter({1, 7, 29, -1, 30, 1000});
  for (const Ids &tokens : {Ids{}, Ids{11}, Ids{11, 20, 4, 5}}) {
    auto array = logits();
    EXPECT_EQ(&filter.filterLogits(array, tokens), &array);
    EXPECT_EQ(maskedIds(array), (Ids{1, 7, 29}));
  }
}

TEST(SuppressBlankFilter, MasksSpaceAndEndOnlyAtTheFirstSampledPosition) {
  const SuppressBlankFilter filter(smallSpecialTokens(), /*sampleBegin=*/2);
  struct Case {
    Ids tokens;
    Ids masked;
  };
  const Case cases[] = {
      {{11}, {}},
      {{11, 20}, {3, 10}},
      {{11, 20, 4}, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.tokens.size());
    auto array = logits();
    filter.filterLogits(array, c.tokens);
    EXPECT_EQ(maskedIds(array), c.masked);
  }
}

TEST(LanguageLogitsFilter, LeavesOnlyLanguageTokensFromSampleBeginOn) {
  const LanguageLogitsFilter filter({12, 13, 14, 99}, kVocabulary, /*sampleBegin=*/1);
  auto before = logits();
  filter.filterLogits(before, {});
  EXPECT_EQ(maskedIds(before), Ids{}) << "sampleBegin beyond the token count";

  auto array = logits();
  filter.filterLogits(array, {11});
  EXPECT_EQ(maskedIds(array), join(range(0, 12), range(15, 30)));
  EXPECT_EQ(filter.nonLanguageTokenRanges(), (std::vector<std::pair<int, int>>{{0, 12}, {15, 30}}));
}

struct TimestampCase {
  const char *name;
  bool multilingual;
  int sampleBegin;
  Ids tokens;
  Ids masked; // before the probability rule, which the flat logits never trigger
};

class TimestampRules : public ::testing::TestWithParam<TimestampCase> {};

TEST_P(TimestampRules, MaskAsTheGrammarRequires) {
  const auto &c = GetParam();
  const TimestampRulesFilter filter(smallSpecialTokens(), c.sampleBegin, std::nullopt,
                                    c.multilingual);
  // Text 5 and end-of-text are far more probable than any timestamp, so the probability rule
  // never fires here.
  auto array = logits(-5.0f);
  array.data<float>()[5] = 5.0f;
  array.data<float>()[10] = 5.0f;
  filter.filterLogits(array, c.tokens);
  EXPECT_EQ(maskedIds(array), c.masked);
}

const Ids kAllTimestamps = range(20, 30);

INSTANTIATE_TEST_SUITE_P(
    Cases, TimestampRules,
    ::testing::Values(
        TimestampCase{"BeforeSampleBegin", false, 2, {11}, {}},
        TimestampCase{"FirstSampledPositionOnlyForbidsNoTimestamps", false, 2, {11, 20}, {19}},
        // After [... <|0.04|>] following text: text below end masked, earlier timestamps
        // masked, <|0.04|> itself allowed to close the pair.
        TimestampCase{"OpenTimestampAfterText",
                      false,
                      1,
                      {11, 20, 4, 22},
                      join(join(range(0, 10), {19}), {20, 21})},
        // After a closed pair all timestamps are masked.
        TimestampCase{"ClosedPair", false, 1, {11, 20, 4, 22, 22}, join({19}, kAllTimestamps)},
        // After [... <|0.04|>, text] timestamps up to <|0.04|> are masked.
        TimestampCase{"TextAfterTimestamp", false, 1, {11, 22, 4}, join({19}, range(20, 23))},
        // One sampled timestamp counts as a closed pair (its penultimate is taken for one).
        TimestampCase{"OneSampledTimestamp", false, 1, {11, 21}, join({19}, kAllTimestamps)},
        TimestampCase{"MultilingualBeginsAfterTheTask", true, 1, {11, 12, 16}, {19}},
        TimestampCase{"MultilingualBeforeTheTaskEnds", true, 1, {11, 12}, {}},
        TimestampCase{"MultilingualLargerSampleBegin", true, 4, {11, 12, 16}, {}},
        TimestampCase{"MultilingualTranslateTask", true, 1, {11, 15, 4}, {19}},
        TimestampCase{"MultilingualWithoutTaskLeavesLogits", true, 0, {17, 4, 5, 11, 12, 16}, {}},
        TimestampCase{"MultilingualEmptyList", true, 0, {}, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TimestampRulesFilter, TimestampsMoreProbableThanAnyTextForceATimestamp) {
  const TimestampRulesFilter filter(smallSpecialTokens(), 1, std::nullopt, false);
  struct Case {
    const char *name;
    float text;      // logit of text token 5
    float timestamp; // logit of each of the 10 timestamps
    bool forced;
  };
  const Case cases[] = {
      {"TimestampMassWins", 0.0f, -1.0f, true}, // log(10 e^-1) = 1.30 > 0
      {"TextWins", 3.0f, 0.0f, false},          // log(10) = 2.30 < 3
      {"EqualMassIsNotEnough", std::log(10.0f), 0.0f, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    auto array = logits(kMasked);
    float *data = array.data<float>();
    data[5] = c.text;
    for (int id = 20; id < 30; ++id) {
      data[id] = c.timestamp;
    }
    filter.filterLogits(array, {11});
    EXPECT_EQ(data[5] == kMasked, c.forced);
    EXPECT_EQ(data[20], c.timestamp);
  }
}

// The probability rule sees the masks of the rules before it: with every timestamp masked by a
// closed pair it cannot force one.
TEST(TimestampRulesFilter, ProbabilityRuleSeesEarlierMasks) {
  const TimestampRulesFilter filter(smallSpecialTokens(), 1, std::nullopt, false);
  auto array = logits(-10.0f);
  float *data = array.data<float>();
  for (int id = 20; id < 30; ++id) {
    data[id] = 10.0f;
  }
  filter.filterLogits(array, {11, 20, 4, 22, 22});
  EXPECT_EQ(maskedIds(array), join({19}, kAllTimestamps));
}

TEST(LogitsFilters, ArraysOfAnotherShapeOrTypeAreLeftAlone) {
  const SuppressTokensFilter filter({1});
  platform::MLMultiArray wrongShape({kVocabulary}, platform::MLMultiArrayDataType::float32);
  platform::MLMultiArray wrongType({1, 1, kVocabulary}, platform::MLMultiArrayDataType::float64);
  filter.filterLogits(wrongShape, {});
  filter.filterLogits(wrongType, {});
  EXPECT_EQ(wrongShape.value(1), 0.0);
  EXPECT_EQ(wrongType.value(1), 0.0);
}

} // namespace
} // namespace divuvovize
