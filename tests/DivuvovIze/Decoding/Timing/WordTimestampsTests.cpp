#include "DivuvovIze/Decoding/Timing/WordTimestamps.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/ml/Float16.hpp"

namespace divuvovize {

void PrintTo(const AlignmentPath &path, std::ostream *out) {
  *out << "text [";
  for (int i : path.textIndices) {
    *out << i << " ";
  }
  *out << "] time [";
  for (int i : path.timeIndices) {
    *out << i << " ";
  }
  *out << "]";
}

namespace {

WordTiming word(std::string text, std::vector<int> tokens, float start, float end,
                float probability = 1.0f) {
  return WordTiming{std::move(text), std::move(tokens), start, end, probability};
}

void expectWords(const std::vector<WordTiming> &actual, const std::vector<WordTiming> &expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("word " + std::to_string(i));
    EXPECT_EQ(actual[i].word, expected[i].word);
    EXPECT_EQ(actual[i].tokens, expected[i].tokens);
    EXPECT_FLOAT_EQ(actual[i].start, expected[i].start);
    EXPECT_FLOAT_EQ(actual[i].end, expected[i].end);
    EXPECT_FLOAT_EQ(actual[i].probability, expected[i].probability);
  }
}

struct DtwCase {
  const char *name;
  int rows;
  int columns;
  std::vector<float> matrix;
  AlignmentPath expected;
};

class DynamicTimeWarpingTest : public ::testing::TestWithParam<DtwCase> {};

TEST_P(DynamicTimeWarpingTest, FindsThePathOfHighestWeight) {
  const auto &c = GetParam();
  EXPECT_EQ(WordTimestamps::dynamicTimeWarping(c.matrix, c.rows, c.columns), c.expected);

  // The array form reads float16 and float32 alike (the decoder keeps its weights in float16).
  for (auto type :
       {platform::MLMultiArrayDataType::float32, platform::MLMultiArrayDataType::float16}) {
    platform::MLMultiArray array({c.rows, c.columns}, type);
    for (int i = 0; i < c.rows * c.columns; ++i) {
      array.setValue(i, c.matrix[static_cast<std::size_t>(i)]);
    }
    EXPECT_EQ(WordTimestamps::dynamicTimeWarping(array), c.expected) << description(type);
  }
}

INSTANTIATE_TEST_SUITE_P(
    SmallMatrices, DynamicTimeWarpingTest,
    ::testing::Values(
        DtwCase{"diagonal", 3, 3, {1, -1, -1, -1, 1, -1, -1, -1, 1}, {{0, 1, 2}, {0, 1, 2}}},
        DtwCase{
            "twoColumnsPerRow", 2, 4, {1, 1, -1, -1, -1, -1, 1, 1}, {{0, 0, 1, 1}, {0, 1, 2, 3}}},
        // Equal costs: the left neighbour wins the tie, then the upper one.
        DtwCase{"tiesGoLeft", 2, 2, {0, 0, 0, 0}, {{0, 1, 1}, {0, 0, 1}}},
        DtwCase{"tallMatrix", 3, 1, {1, 1, 1}, {{0, 1, 2}, {0, 0, 0}}},
        DtwCase{"lateSecondRow", 2, 3, {1, 1, -1, -1, -1, 1}, {{0, 0, 1}, {0, 1, 2}}},
        DtwCase{"empty", 0, 0, {}, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(WordTimestampsTest, DynamicTimeWarpingRefusesOtherRanks) {
  try {
    WordTimestamps::dynamicTimeWarping(
        platform::MLMultiArray({1, 2, 2}, platform::MLMultiArrayDataType::float32));
    FAIL() << "no error";
  } catch (const WhisperError &error) {
    EXPECT_EQ(error, WhisperError::segmentingFailed("Invalid alignment matrix shape"));
  }
}

TEST(WordTimestampsTest, AlignmentTimesTokensWherePathChangesRows) {
  // Tokens 0..3 enter rows at columns 0, 2, 5 and 6; the path ends at column 9.
  const AlignmentPath path{{0, 0, 1, 1, 1, 2, 3, 3, 3, 3}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}};
  const std::vector<std::string> words = {" Hi", " there", "."};
  const std::vector<std::vector<int>> wordTokens = {{10}, {11, 12}, {13}};
  const std::vector<float> logProbs = {std::log(0.5f), std::log(0.25f), std::log(1.0f), 0};
  expectWords(WordTimestamps::findAlignment(words, wordTokens, logProbs, path),
              {word(" Hi", {10}, 0.0f, 0.04f, 0.5f), word(" there", {11, 12}, 0.04f, 0.12f, 0.5f),
               word(".", {13}, 0.12f, 0.18f, 1.0f)});

  // One word gives no timings at all.
  EXPECT_TRUE(WordTimestamps::findAlignment({" Hi"}, {{10, 11, 12, 13}}, logProbs, path).empty());
  // Tokens beyond the path are refused instead of read past the end.
  EXPECT_THROW(WordTimestamps::findAlignment({" a", " b"}, {{1}, {2, 3, 4, 5}}, logProbs, path),
               WhisperError);
}

TEST(WordTimestampsTest, DurationConstraints) {
  struct Case {
    std::vector<float> durations;
    float median;
  };
  const std::vector<Case> cases = {
      {{}, 0.0f},
      {{0, 0, 0}, 0.0f},          // no positive duration
      {{0.2f, 0.4f, 0.0f}, 0.4f}, // zero dropped; upper median of two
      {{0.3f, 0.1f, 0.2f}, 0.2f}, // sorted first
      {{1.0f, 2.0f, 3.0f}, 0.7f}, // capped
  };
  for (const auto &c : cases) {
    std::vector<WordTiming> words;
    for (float d : c.durations) {
      words.push_back(word(" w", {1}, 1.0f, 1.0f + d));
    }
    const auto [median, max] = WordTimestamps::calculateWordDurationConstraints(words);
    EXPECT_FLOAT_EQ(median, c.median) << c.durations.size();
    EXPECT_FLOAT_EQ(max, 2 * c.median);
  }
}

TEST(WordTimestampsTest, LongWordsAreCutOnlyAtSentenceBoundaries) {
  const auto result = WordTimestamps::truncateLongWordsAtSentenceBoundaries(
      {word(".", {1}, 0, 5),         // first word: never cut
       word(" long", {2}, 5, 8),     // after a mark: keeps its end
       word("!", {3}, 8, 10),        // a mark: keeps its start
       word(" words", {4}, 10, 13),  // after a mark again
       word(" more", {5}, 13, 16),   // no mark near: left alone
       word(" ok", {6}, 16, 16.5f)}, // short
      1.0f);
  expectWords(result, {word(".", {1}, 0, 5), word(" long", {2}, 7, 8), word("!", {3}, 8, 9),
                       word(" words", {4}, 12, 13), word(" more", {5}, 13, 16),
                       word(" ok", {6}, 16, 16.5f)});
}

struct MergeCase {
  const char *name;
  std::vector<WordTiming> input;
  std::vector<WordTiming> expected;
};

class MergePunctuationsTest : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergePunctuationsTest, JoinsMarksToTheirWords) {
  expectWords(WordTimestamps::mergePunctuations(GetParam().input,
                                                Constants::defaultPrependPunctuations,
                                                Constants::defaultAppendPunctuations),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MergePunctuationsTest,
    ::testing::Values(MergeCase{"parentheses",
                                {word(" (", {1}, 0, 1, 0.1f), word("word", {2}, 1, 2, 0.5f),
                                 word(")", {3}, 2, 3, 0.9f)},
                                {word(" (word)", {1, 2, 3}, 1, 2, 0.5f)}},
                      MergeCase{"closingMarkAfterSpaceIsDropped",
                                {word(" word ", {1}, 0, 1), word(".", {2}, 1, 2)},
                                {word(" word ", {1}, 0, 1)}},
                      MergeCase{"chainOfClosingMarksKeepsTheWord",
                                {word(" Hello", {1}, 0, 1, 0.5f), word(".", {2}, 1, 2),
                                 word("\"", {3}, 2, 3)},
                                {word(" Hello.\"", {1, 2, 3}, 0, 1, 0.5f)}},
                      MergeCase{"chainOfOpeningMarksKeepsBoth",
                                {word(" Hi", {1}, 0, 1), word(" \"", {2}, 1, 2),
                                 word(" (", {3}, 2, 3), word("x", {4}, 3, 4, 0.5f)},
                                {word(" Hi", {1}, 0, 1), word(" \" (x", {2, 3, 4}, 3, 4, 0.5f)}},
                      MergeCase{"plainWordsUntouched",
                                {word(" a", {1}, 0, 1), word(" b", {2}, 1, 2)},
                                {word(" a", {1}, 0, 1), word(" b", {2}, 1, 2)}},
                      MergeCase{"emptyAndLoneMarksDropped",
                                {word(" a ", {1}, 0, 1), word("", {2}, 1, 2), word(",", {3}, 2, 3),
                                 word(" b", {4}, 3, 4)},
                                {word(" a ", {1}, 0, 1), word(" b", {4}, 3, 4)}},
                      MergeCase{"empty", {}, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TranscriptionSegment segment(float start, float end, std::vector<int> tokens) {
  TranscriptionSegment s;
  s.start = start;
  s.end = end;
  s.tokens = std::move(tokens);
  return s;
}

constexpr int kSpecialBegin = 1000;

std::string decodeForTest(const std::vector<int> &tokens) {
  std::string text = "dec";
  for (int t : tokens) {
    text += ":" + std::to_string(t);
  }
  return text;
}

TEST(WordTimestampsTest, SegmentsTakeWordsByTextTokenCount) {
  // Window at 1 s. Segment 1 holds 3 text tokens, segment 2 one; timestamps are not counted.
  std::vector<TranscriptionSegment> segments = {segment(1.0f, 3.0f, {1000, 1, 2, 3, 1050}),
                                                segment(3.0f, 4.0f, {1050, 4, 1100})};
  const std::vector<WordTiming> merged = {
      word(" a", {1}, 0.0f, 0.5f, 0.904f),
      word(" b", {2, 1001}, 0.5f, 1.0f, 0.8f), // loses a special token: text decoded again
      word("<|x|>", {1002}, 1.0f, 1.0f),       // no text token: dropped
      word(" c", {3}, 1.9f, 2.9f, 0.7f),       // ends beyond its segment
      word(" d", {4}, 2.9f, 3.0f, 0.6f)};
  const auto result = WordTimestamps::updateSegmentsWithWordTimings(
      segments, merged, /*seek=*/16000, /*lastSpeechTimestamp=*/1.0f, /*median=*/0.5f,
      /*max=*/1.0f, kSpecialBegin, decodeForTest);
  ASSERT_EQ(result.size(), 2u);
  ASSERT_TRUE(result[0].words.has_value());
  expectWords(*result[0].words,
              {word(" a", {1}, 1.0f, 1.5f, 0.9f), word("dec:2", {2}, 1.5f, 2.0f, 0.8f),
               // segment end 3.0 + 0.5 < 3.9: the word ends a median after
               // its start
               word(" c", {3}, 2.9f, 3.4f, 0.7f)});
  EXPECT_FLOAT_EQ(result[0].start, 1.0f);
  EXPECT_FLOAT_EQ(result[0].end, 3.0f);
  // " d" is short (0.1 < 0.125) and starts 0.9 after the previous segment's end: moved 0.25
  // earlier. The segment then takes its word's times.
  expectWords(*result[1].words, {word(" d", {4}, 3.65f, 4.0f, 0.6f)});
  EXPECT_FLOAT_EQ(result[1].start, 3.65f);
  EXPECT_FLOAT_EQ(result[1].end, 4.0f);
}

TEST(WordTimestampsTest, FirstWordAfterAPauseIsShortened) {
  std::vector<TranscriptionSegment> segments = {segment(5.0f, 8.0f, {1, 2})};
  const auto result = WordTimestamps::updateSegmentsWithWordTimings(
      segments, {word(" long", {1}, 5.0f, 7.0f), word(" b", {2}, 7.0f, 7.4f)}, 0, 0.0f, 0.5f, 1.0f,
      kSpecialBegin, decodeForTest);
  expectWords(*result[0].words, {word(" long", {1}, 6.0f, 7.0f), word(" b", {2}, 7.0f, 7.4f)});
  EXPECT_FLOAT_EQ(result[0].start, 6.0f);
  EXPECT_FLOAT_EQ(result[0].end, 7.4f);
}

TEST(WordTimestampsTest, SegmentsWithoutWordsGetAnEmptyList) {
  std::vector<TranscriptionSegment> segments = {segment(0, 1, {1000, 1001}), segment(1, 2, {5})};
  const auto result = WordTimestamps::updateSegmentsWithWordTimings(segments, {}, 0, 0, 0, 0,
                                                                    kSpecialBegin, decodeForTest);
  for (const auto &s : result) {
    ASSERT_TRUE(s.words.has_value());
    EXPECT_TRUE(s.words->empty());
  }
  EXPECT_FLOAT_EQ(result[1].start, 1.0f);
  EXPECT_FLOAT_EQ(result[1].end, 2.0f);
}

TEST(WordTimestampsTest, TimesAreRoundedHalfAwayFromZero) {
  std::vector<TranscriptionSegment> segments = {segment(0, 2, {1, 2})};
  const auto result = WordTimestamps::updateSegmentsWithWordTimings(
      segments, {word(" a", {1}, 0.2f, 1.226f), word(" b", {2}, 0.5f, 1.004f)}, 0, 0, 0.5f, 1.0f,
      kSpecialBegin, decodeForTest);
  EXPECT_FLOAT_EQ((*result[0].words)[0].end, 1.23f);
  EXPECT_FLOAT_EQ((*result[0].words)[1].end, 1.0f);
}

} // namespace
} // namespace divuvovize
