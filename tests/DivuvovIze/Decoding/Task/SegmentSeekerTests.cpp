#include <map>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "DivuvovIze/Decoding/Task/SegmentSeeker.hpp"
#include "tests/DivuvovIze/Decoding/SpeechTokenizerFixture.hpp"

namespace divuvovize {
namespace {

using Ids = std::vector<int>;

class SegmentSeekerTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { tokenizer_ = mqtest::makeSpeechTokenizer(); }
  static void TearDownTestSuite() { tokenizer_.reset(); }

  static const WhisperTokenizer &tokenizer() { return *tokenizer_; }
  static const SpecialTokens &special() { return tokenizer_->specialTokens(); }
  // The id of the timestamp at `seconds`.
  static int at(float seconds) {
    return special().timeTokenBegin + static_cast<int>(seconds / 0.02f + 0.5f);
  }
  static int hello() { return tokenizer_->encode(" Hello").at(0); }
  static int world() { return tokenizer_->encode(" world").at(0); }

  static DecodingResult result(const Ids &tokens) {
    DecodingResult r;
    r.tokens = tokens;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      r.tokenLogProbs.push_back({{tokens[i], -0.1f * static_cast<float>(i)}});
    }
    r.avgLogProb = -0.3f;
    r.noSpeechProb = 0.1f;
    r.temperature = 0.2f;
    r.compressionRatio = 1.5f;
    return r;
  }

  static SeekPointAndSegments seek(const DecodingResult &r, int currentSeek = 0,
                                   const DecodingOptions &options = {}, int allSegments = 0) {
    return SegmentSeeker().findSeekPointAndSegments(r, options, allSegments, currentSeek, 480000,
                                                    16000, special().timeTokenBegin,
                                                    special().specialTokenBegin, tokenizer());
  }

  static std::shared_ptr<WhisperTokenizerWrapper> tokenizer_;
};
std::shared_ptr<WhisperTokenizerWrapper> SegmentSeekerTest::tokenizer_;

struct Span {
  float start;
  float end;
  Ids tokens;
};

void expectSpans(const std::vector<TranscriptionSegment> &segments,
                 const std::vector<Span> &spans) {
  ASSERT_EQ(segments.size(), spans.size());
  for (std::size_t i = 0; i < spans.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FLOAT_EQ(segments[i].start, spans[i].start);
    EXPECT_FLOAT_EQ(segments[i].end, spans[i].end);
    EXPECT_EQ(segments[i].tokens, spans[i].tokens);
  }
}

TEST_F(SegmentSeekerTest, TwoSegmentsAndASeekToTheLastTimestamp) {
  const int end = special().endToken;
  const Ids tokens = {at(0), hello(), at(2.4f), at(2.4f), world(), at(5.0f), end};
  const DecodingResult r = result(tokens);
  const auto [newSeek, segments] = seek(r, /*currentSeek=*/32000, {}, /*allSegments=*/4);
  EXPECT_EQ(newSeek, 32000 + 80000) << "250 steps of 0.02 s at 16 kHz";
  ASSERT_TRUE(segments.has_value());
  expectSpans(*segments, {{2.0f, 4.4f, {at(0), hello(), at(2.4f)}},
                          {4.4f, 7.0f, {at(2.4f), world(), at(5.0f)}}});
  const auto &first = (*segments)[0];
  EXPECT_EQ(first.id, 4);
  EXPECT_EQ((*segments)[1].id, 5);
  EXPECT_EQ(first.seek, 32000);
  EXPECT_EQ(first.text, "<|0.00|> Hello<|2.40|>");
  EXPECT_EQ(first.tokenLogProbs,
            (std::vector<TokenLogProbs>(r.tokenLogProbs.begin(), r.tokenLogProbs.begin() + 3)));
  EXPECT_EQ(first.temperature, 0.2f);
  EXPECT_EQ(first.avgLogprob, -0.3f);
  EXPECT_EQ(first.compressionRatio, 1.5f);
  EXPECT_EQ(first.noSpeechProb, 0.1f);
  EXPECT_EQ(first.words, std::nullopt);
}

TEST_F(SegmentSeekerTest, SkippingSpecialTokensDecodesOnlyText) {
  DecodingOptions options;
  options.skipSpecialTokens = true;
  const Ids tokens = {at(0), hello(), at(2.4f), at(2.4f), world(), at(5.0f), special().endToken};
  const auto [newSeek, segments] = seek(result(tokens), 0, options);
  ASSERT_TRUE(segments.has_value());
  EXPECT_EQ((*segments)[0].text, " Hello");
  EXPECT_EQ((*segments)[1].text, " world");
}

TEST_F(SegmentSeekerTest, TrailingTextWithoutClosingTimestampIsALastSegmentAndSeeksTheWindow) {
  const int end = special().endToken;
  const Ids tokens = {at(0), hello(), at(2.4f), at(2.4f), world(), hello(), end};
  const auto [newSeek, segments] = seek(result(tokens), 16000);
  EXPECT_EQ(newSeek, 16000 + 480000);
  ASSERT_TRUE(segments.has_value());
  expectSpans(*segments, {{1.0f, 3.4f, {at(0), hello(), at(2.4f)}},
                          {3.4f, 3.4f, {at(2.4f), world(), hello(), end}}});
}

TEST_F(SegmentSeekerTest, EndingInAPairSeeksToItsSecondToken) {
  const int end = special().endToken;
  const Ids tokens = {at(0), hello(), at(4.0f), at(4.0f), end};
  const auto [newSeek, segments] = seek(result(tokens));
  EXPECT_EQ(newSeek, 64000);
  ASSERT_TRUE(segments.has_value());
  expectSpans(*segments, {{0.0f, 4.0f, {at(0), hello(), at(4.0f)}}});
}

// 5 x 0.02 in float is just below 0.1, so five steps at 16 kHz advance 1599 samples.
TEST_F(SegmentSeekerTest, SeekOfFiveStepsTruncatesTo1599Samples) {
  const int end = special().endToken;
  const Ids tokens = {at(0), at(0), hello(), at(0.1f), end};
  ASSERT_EQ(at(0.1f) - special().timeTokenBegin, 5);
  const auto [newSeek, segments] = seek(result(tokens), 1000);
  EXPECT_EQ(newSeek, 1000 + 1599);
  ASSERT_TRUE(segments.has_value());
  expectSpans(*segments,
              {{0.0625f, 0.0625f, {at(0)}}, {0.0625f, 0.1625f, {at(0), hello(), at(0.1f)}}});
}

TEST_F(SegmentSeekerTest, WithoutAPairTheWholeWindowIsOneSegment) {
  const int end = special().endToken;
  struct Case {
    const char *name;
    Ids tokens;
    float duration;
  };
  const Case cases[] = {
      {"LastTimestampGivesTheDuration", {at(0), hello(), at(3.0f), world(), end}, 3.0f},
      {"OnlyTheZeroTimestamp", {at(0), hello(), world(), end}, 30.0f},
      {"NoTokensAtAll", {}, 30.0f},
      {"FewerThanThreeTokens", {hello(), at(1.0f)}, 1.0f},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const auto [newSeek, segments] = seek(result(c.tokens), 48000);
    EXPECT_EQ(newSeek, 48000 + 480000);
    ASSERT_TRUE(segments.has_value());
    expectSpans(*segments, {{3.0f, 3.0f + c.duration, c.tokens}});
  }
}

TEST_F(SegmentSeekerTest, SilentWindowsYieldNoSegmentsAndSkipTheWindow) {
  struct Case {
    const char *name;
    std::optional<float> noSpeechThreshold;
    std::optional<float> logProbThreshold;
    float noSpeechProb;
    float avgLogProb;
    bool silent;
  };
  const Case cases[] = {
      {"ProbableSilenceWithLowLogProb", 0.6f, -1.0f, 0.7f, -1.5f, true},
      {"ProbableSilenceWithoutLogProbTest", 0.6f, std::nullopt, 0.7f, 0.0f, true},
      {"ConfidentTextIsNotSilence", 0.6f, -1.0f, 0.7f, -0.5f, false},
      {"NoSpeechBelowThreshold", 0.6f, -1.0f, 0.5f, -1.5f, false},
      {"NoThresholdNeverSilent", std::nullopt, -1.0f, 1.0f, -9.0f, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    DecodingOptions options;
    options.noSpeechThreshold = c.noSpeechThreshold;
    options.logProbThreshold = c.logProbThreshold;
    DecodingResult r = result({at(0), hello(), at(1.0f), at(1.0f), special().endToken});
    r.noSpeechProb = c.noSpeechProb;
    r.avgLogProb = c.avgLogProb;
    const auto [newSeek, segments] = seek(r, 0, options);
    EXPECT_EQ(segments.has_value(), !c.silent);
    EXPECT_EQ(newSeek, c.silent ? 480000 : 16000);
  }
}

} // namespace
} // namespace divuvovize
