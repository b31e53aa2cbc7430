#include "DivuvovIze/Models/TextUtilities.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "DivuvovIze/Models/TranscriptionUtilities.hpp"
#include "platform/audio/PcmBuffer.hpp"

namespace divuvovize {
namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

TEST(TextUtilitiesTest, CompressionRatioOfText) {
  // Sizes of the raw DEFLATE stream at level 5 with a 15-bit window, as the platform's
  // compressor writes it. The last text compresses to 105 bytes at levels 4, 6 and 9.
  struct Case {
    std::string text;
    float expected;
  };
  const std::vector<Case> cases = {
      {std::string(1000, 'a'), 1000.0f / 11.0f},
      {"Hello world", 11.0f / 13.0f},
      {" And so my fellow Americans, ask not what your country can do for you, ask what you "
       "can do for your country.",
       108.0f / 73.0f},
      {"sat and and dog a sat cat mat cat slow log sat dog sat slow cat log and dog mat on blue "
       "log on fast the blue small sat the sat the and ran the ran a big big small big ran big "
       "dog mat and mat cat mat fast on blue big big mat red fast on blue dog",
       244.0f / 104.0f},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20));
    EXPECT_EQ(TextUtilities::compressionRatio(std::string_view(c.text)), c.expected);
  }
  EXPECT_EQ(TextUtilities::compressionRatio(std::string_view("")), kInfinity);
  EXPECT_GT(TextUtilities::compressionRatio(std::string_view(std::string(1000, 'x'))), 2.4f);
}

TEST(TextUtilitiesTest, CompressionRatioOfTokens) {
  struct Case {
    std::vector<int> tokens;
    float expected;
  };
  std::vector<int> counting(100);
  for (int i = 0; i < 100; ++i) {
    counting[static_cast<std::size_t>(i)] = i;
  }
  const std::vector<Case> cases = {
      {{}, 0.0f}, // 0 bytes over the 2-byte empty stream
      {std::vector<int>(50, 50364), 200.0f / 9.0f},
      {{1, 2, 3, 4, 5}, 20.0f / 16.0f},
      {counting, 400.0f / 157.0f},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.tokens.size());
    EXPECT_EQ(TextUtilities::compressionRatio(c.tokens), c.expected);
  }
}

TEST(TextUtilitiesTest, NormalizedForm) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"Hello, World!", "hello world"},
      {"well-known", "well known"},
      {"  A  b ", "a b"},
      {" \"Quoted\" (text)...", "quoted text"},
      {"ÉCOLE—Straße", "écolestraße"}, // em dash is punctuation, not a hyphen
      {"\tTabs\nand  lines\n", "tabs\nand lines"},
      {"...", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(normalized(c.text), c.expected);
  }
}

TEST(TextUtilitiesTest, TrimmingSpecialTokenCharacters) {
  EXPECT_EQ(trimmingSpecialTokenCharacters("<|en|>"), "en");
  EXPECT_EQ(trimmingSpecialTokenCharacters("a<b"), "a<b");
  EXPECT_EQ(trimmingSpecialTokenCharacters("<|>"), "");
  EXPECT_EQ(trimmingSpecialTokenCharacters("<|startoftranscript|>"), "startoftranscript");
}

TEST(TextUtilitiesTest, SegmentLinesAndLookup) {
  TranscriptionSegment a;
  a.start = 1.5f;
  a.end = 3.25f;
  a.text = " Hi";
  TranscriptionSegment b = a;
  b.start = 4.0f;
  b.text = "unrelated";
  EXPECT_EQ(TranscriptionUtilities::formatSegments({a}, true),
            std::vector<std::string>{"[1.50 --> 3.25]  Hi"});
  EXPECT_EQ(TranscriptionUtilities::formatSegments({a, b}, false),
            (std::vector<std::string>{" Hi", "unrelated"}));
  TranscriptionSegment sameStart;
  sameStart.start = 1.5f;
  EXPECT_TRUE(containsSegment({b, a}, sameStart));
  EXPECT_FALSE(containsSegment({b}, sameStart));
}

TEST(TextUtilitiesTest, AppendPCMBuffer) {
  const auto mono = *platform::AudioFormat::standard(16000, 1);
  const auto source = platform::PcmBuffer::make(mono, 10);
  source->setFrameLength(10);
  for (int i = 0; i < 10; ++i) {
    source->floatChannelData(0)[i] = static_cast<float>(i);
  }
  struct Case {
    const char *name;
    std::uint32_t capacity;
    std::uint32_t initialLength;
    std::int64_t startFrame;
    std::uint32_t frameCount;
    bool appended;
    std::vector<float> contents;
  };
  const std::vector<Case> cases = {
      {"fits", 8, 1, 2, 3, true, {0, 2, 3, 4}},
      {"reduced to the free space", 4, 1, 5, 5, true, {0, 5, 6, 7}},
      {"source too short", 20, 0, 8, 3, false, {}},
      {"empty copy", 4, 0, 10, 0, true, {}},
      {"negative start", 8, 0, -1, 2, false, {}},
      {"start far beyond the source", 8, 0, std::numeric_limits<std::int64_t>::max(), 5, false, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const auto destination = platform::PcmBuffer::make(mono, c.capacity);
    destination->setFrameLength(c.initialLength);
    EXPECT_EQ(appendPCMBuffer(*destination, *source, c.startFrame, c.frameCount), c.appended);
    std::vector<float> contents(destination->floatChannelData(0),
                                destination->floatChannelData(0) + destination->frameLength());
    EXPECT_EQ(contents, c.contents);
  }
  const auto stereo = platform::PcmBuffer::make(*platform::AudioFormat::standard(16000, 2), 8);
  EXPECT_FALSE(appendPCMBuffer(*stereo, *source, 0, 1)); // formats differ
  const auto int16 =
      *platform::AudioFormat::make(16000, 1, platform::AudioCommonFormat::pcmFormatInt16,
                                   /*interleaved=*/false);
  const auto a = platform::PcmBuffer::make(int16, 4);
  const auto b = platform::PcmBuffer::make(int16, 4);
  b->setFrameLength(4);
  EXPECT_FALSE(appendPCMBuffer(*a, *b, 0, 1)); // no float samples
}

WordTiming word(std::string text) { return WordTiming{std::move(text), {}, 0, 0, 0}; }

std::vector<std::string> texts(const std::vector<WordTiming> &words) {
  std::vector<std::string> result;
  for (const auto &w : words) {
    result.push_back(w.word);
  }
  return result;
}

TEST(TranscriptionUtilitiesTest, CommonPrefixAndDifferentSuffix) {
  const std::vector<WordTiming> first = {word("Hello,"), word("world")};
  const std::vector<WordTiming> second = {word("hello"), word("World!"), word("again")};
  EXPECT_EQ(texts(TranscriptionUtilities::findLongestCommonPrefix(first, second)),
            (std::vector<std::string>{"hello", "World!"}));
  EXPECT_EQ(texts(TranscriptionUtilities::findLongestDifferentSuffix(first, second)),
            std::vector<std::string>{"again"});
  const std::vector<WordTiming> other = {word("Goodbye"), word("world")};
  EXPECT_TRUE(TranscriptionUtilities::findLongestCommonPrefix(other, second).empty());
  EXPECT_EQ(TranscriptionUtilities::findLongestDifferentSuffix(other, second).size(), 3u);
}

TEST(TranscriptionUtilitiesTest, UpdateSegmentTimings) {
  TranscriptionSegment s;
  s.seek = 100;
  s.start = 0.5f;
  s.end = 1.0f;
  s.words = std::vector<WordTiming>{{" a", {1}, 0.5f, 0.75f, 1.0f}};
  const auto moved = TranscriptionUtilities::updateSegmentTimings(s, 1.5f);
  EXPECT_EQ(moved.seek, 24100);
  EXPECT_EQ(moved.start, 2.0f);
  EXPECT_EQ(moved.end, 2.5f);
  EXPECT_EQ((*moved.words)[0].start, 2.0f);
  EXPECT_EQ((*moved.words)[0].end, 2.25f);

  // Seek offsets truncate toward zero; out-of-range ones saturate rather than wrap.
  struct Case {
    int seek;
    float seekTime;
    int expected;
  };
  const std::vector<Case> cases = {
      {100, -0.00009f, 99}, // -1.44 samples truncate to -1
      {0, std::numeric_limits<float>::quiet_NaN(), 0},
      {5, 1.0e10f, std::numeric_limits<int>::max()},
      {std::numeric_limits<int>::max() - 10, 1.0f, std::numeric_limits<int>::max()},
      {-5, -1.0e10f, std::numeric_limits<int>::min()},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.seekTime);
    TranscriptionSegment t;
    t.seek = c.seek;
    EXPECT_EQ(TranscriptionUtilities::updateSegmentTimings(t, c.seekTime).seek, c.expected);
  }
}

std::shared_ptr<TranscriptionResult> timedResult(std::string text, double start, double duration,
                                                 int segmentCount, std::string language = "de") {
  TranscriptionTimings t;
  t.pipelineStart = start;
  t.firstTokenTime = start + 0.5;
  t.fullPipeline = duration;
  t.inputAudioSeconds = 2.0;
  t.modelLoading = duration; // largest wins
  t.encoderSpecializationTime = 9.0;
  t.decodingLoop = 1.0;
  t.totalDecodingWindows = 1;
  std::vector<TranscriptionSegment> segments(static_cast<std::size_t>(segmentCount));
  for (auto &segment : segments) {
    segment.id = 40;
    segment.start = 0.25f;
  }
  return std::make_shared<TranscriptionResult>(std::move(text), std::move(segments),
                                               std::move(language), t);
}

TEST(TranscriptionUtilitiesTest, MergeCombinesTextSegmentsAndTimings) {
  struct Case {
    const char *name;
    double secondStart;
    double expectedFullPipeline;
  };
  const std::vector<Case> cases = {{"one after the other", 105.0, 10.0},
                                   {"side by side", 101.0, 6.0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const auto merged = TranscriptionUtilities::mergeTranscriptionResults(
        {timedResult("first", 100.0, 5.0, 2), nullptr,
         timedResult("second", c.secondStart, 5.0, 1)});
    EXPECT_EQ(merged->text(), "first  second");
    EXPECT_EQ(merged->language(), "de");
    EXPECT_FALSE(merged->seekTime().has_value());
    const auto segments = merged->segments();
    ASSERT_EQ(segments.size(), 3u);
    EXPECT_EQ(segments[0].id, 0);
    EXPECT_EQ(segments[1].id, 1);
    EXPECT_EQ(segments[2].id, 1);
    EXPECT_EQ(segments[2].start, 0.25f); // times stay relative to their piece
    const auto t = merged->timings();
    EXPECT_EQ(t.fullPipeline, c.expectedFullPipeline);
    EXPECT_EQ(t.pipelineStart, 100.0);
    EXPECT_EQ(t.firstTokenTime, 100.5);
    EXPECT_EQ(t.inputAudioSeconds, 4.0);
    EXPECT_EQ(t.modelLoading, 5.0);
    EXPECT_EQ(t.encoderSpecializationTime, 0.0);
    EXPECT_EQ(t.decodingLoop, 2.0);
    EXPECT_EQ(t.totalDecodingWindows, 2.0);
  }
}

TEST(TranscriptionUtilitiesTest, MergeOfNothingAndConfirmedWords) {
  const auto nothing = TranscriptionUtilities::mergeTranscriptionResults({});
  EXPECT_EQ(nothing->text(), "");
  EXPECT_EQ(nothing->language(), "en");
  EXPECT_TRUE(nothing->segments().empty());
  for (const auto &field : TranscriptionTimings::fields()) {
    EXPECT_EQ(nothing->timings().*field.member, 0.0) << field.name;
  }
  EXPECT_EQ(TranscriptionUtilities::mergeTranscriptionResults({nullptr, nullptr, nullptr})->text(),
            "  ");
  const auto confirmed = TranscriptionUtilities::mergeTranscriptionResults(
      {timedResult("ignored", 1, 1, 0)}, std::vector<WordTiming>{word(" Hello"), word(" world")});
  EXPECT_EQ(confirmed->text(), " Hello world");
  EXPECT_EQ(
      TranscriptionUtilities::mergeTranscriptionResults({}, std::vector<WordTiming>{})->text(), "");
}

TEST(TranscriptionUtilitiesTest, ResultsToOptionalArrays) {
  const auto result = timedResult("x", 0, 1, 0);
  const std::vector<TranscriptionOutcome> outcomes = {
      std::vector<std::shared_ptr<TranscriptionResult>>{result},
      std::make_exception_ptr(std::runtime_error("failed")),
      std::vector<std::shared_ptr<TranscriptionResult>>{}};
  const auto arrays = resultsToOptionalArrays(outcomes);
  ASSERT_EQ(arrays.size(), 3u);
  ASSERT_TRUE(arrays[0].has_value());
  EXPECT_EQ((*arrays[0])[0], result);
  EXPECT_FALSE(arrays[1].has_value());
  EXPECT_TRUE(arrays[2].has_value() && arrays[2]->empty());
}

} // namespace
} // namespace divuvovize
