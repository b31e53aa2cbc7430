#include "DivuvovIze/Audio/EnergyVAD.hpp"
#include "DivuvovIze/Audio/VADAudioChunker.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "tests/DivuvovIze/Audio/AudioTestSupport.hpp"

#include <gtest/gtest.h>

namespace {

using divuvovize::AudioChunk;
using divuvovize::ChunkTranscriptionResult;
using divuvovize::DecodingOptions;
using divuvovize::EnergyVAD;
using divuvovize::IndexRange;
using divuvovize::TranscriptionResult;
using divuvovize::TranscriptionSegment;
using divuvovize::VADAudioChunker;
using divuvovize::WhisperError;

constexpr int kRate = 16000;

// `seconds` of "speech" (a 200 Hz tone at 0.1, RMS 0.07) with silent pauses planted at the
// given [start, end) times.
std::vector<float> speechWithPauses(double seconds,
                                    const std::vector<std::pair<double, double>> &pauses) {
  std::vector<float> samples(static_cast<std::size_t>(seconds * kRate));
  const auto tone = audiotest::sine(200, kRate, 0.1);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = tone(0, static_cast<std::int64_t>(i));
  }
  for (const auto &[from, to] : pauses) {
    std::fill(samples.begin() + static_cast<std::ptrdiff_t>(from * kRate),
              samples.begin() + static_cast<std::ptrdiff_t>(to * kRate), 0.0f);
  }
  return samples;
}

// Samples whose 1600-sample frames are loud or silent as `flags` say; the last frame may be
// cut to `count`.
std::vector<float> framesOf(const std::vector<bool> &flags, std::size_t count) {
  std::vector<float> samples(count, 0.0f);
  for (std::size_t i = 0; i < count; ++i) {
    samples[i] = flags[i / 1600] ? 0.5f : 0.0f;
  }
  return samples;
}

TEST(EnergyVADTest, FramesAndActiveRangesFollowTheSignal) {
  const EnergyVAD vad;
  EXPECT_EQ(vad.sampleRate(), 16000);
  EXPECT_EQ(vad.frameLengthSamples(), 1600);
  EXPECT_EQ(vad.frameOverlapSamples(), 0);
  EXPECT_EQ(vad.energyThreshold(), 0.02f);

  const auto samples = framesOf({true, true, false, true}, 5000);
  EXPECT_EQ(vad.voiceActivity(samples), (std::vector<bool>{true, true, false, true}));
  EXPECT_EQ(vad.voiceActivityAsync(samples), vad.voiceActivity(samples));
  EXPECT_EQ(vad.calculateActiveChunks(samples), (std::vector<IndexRange>{{0, 3200}, {4800, 5000}}));
  EXPECT_TRUE(vad.voiceActivity({}).empty());
  EXPECT_TRUE(vad.calculateActiveChunks(std::vector<float>(4000, 0.0f)).empty());
  EXPECT_EQ(vad.voiceActivityIndexToSeconds(5), 0.5f);
  EXPECT_EQ(vad.voiceActivityIndexToAudioSampleIndex(5), 8000);

  // A level exactly at the threshold is silence.
  EXPECT_EQ(vad.voiceActivity(std::vector<float>(1600, 0.02f)), (std::vector<bool>{false}));
  EXPECT_EQ(vad.voiceActivity(std::vector<float>(1600, 0.0201f)), (std::vector<bool>{true}));
}

TEST(EnergyVADTest, OverlapWidensTheMeasureButNotTheRange) {
  const EnergyVAD vad(16000, 1600, 800, 0.02f);
  std::vector<float> samples(4800, 0.0f);
  std::fill(samples.begin() + 2000, samples.begin() + 2400, 1.0f); // frame 1, and frame 0's overlap
  EXPECT_EQ(vad.voiceActivity(samples), (std::vector<bool>{true, true, false}));
  EXPECT_EQ(vad.calculateActiveChunks(samples), (std::vector<IndexRange>{{0, 3200}}));

  const auto seconds = EnergyVAD::withDurations(8000, 0.0251f, 0.01f, 0.5f);
  EXPECT_EQ(seconds.frameLengthSamples(), 200); // 200.8 truncated
  EXPECT_EQ(seconds.frameOverlapSamples(), 80);
  EXPECT_EQ(seconds.energyThreshold(), 0.5f);
  EXPECT_THROW(EnergyVAD::withDurations(16000, std::numeric_limits<float>::infinity(), 0, 0.1f),
               std::invalid_argument);
  EXPECT_THROW(EnergyVAD(16000, 0, 0, 0.1f), std::invalid_argument);
}

TEST(EnergyVADTest, LongestSilenceIsTheFirstOfTheLongestRuns) {
  const EnergyVAD vad;
  struct Case {
    std::vector<bool> flags;
    std::optional<IndexRange> expected;
  };
  const Case cases[] = {
      {{true, false, false, true, false, false}, IndexRange{1, 3}},
      {{true, false, true, false, false, false}, IndexRange{3, 6}},
      {{true, true, true}, std::nullopt},
      {{false, false, false, false}, IndexRange{0, 4}},
      {{}, std::nullopt},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.flags.size());
    EXPECT_EQ(vad.findLongestSilence(c.flags), c.expected);
  }
}

struct ChunkCase {
  const char *name;
  double seconds;
  std::vector<std::pair<double, double>> pauses;
  std::vector<float> clipTimestamps;
  std::vector<std::pair<int, int>> expected; // (offset, end) of each chunk
};

class VADAudioChunkerTest : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(VADAudioChunkerTest, CutsInTheLongestPause) {
  const ChunkCase c = GetParam();
  const auto samples = speechWithPauses(c.seconds, c.pauses);
  VADAudioChunker chunker(16000);
  DecodingOptions options;
  options.clipTimestamps = c.clipTimestamps;
  const auto chunks = chunker.chunkAll(samples, 480000, options);
  std::vector<std::pair<int, int>> ranges;
  for (const auto &chunk : chunks) {
    const int end = chunk.seekOffsetIndex + static_cast<int>(chunk.audioSamples.size());
    ranges.emplace_back(chunk.seekOffsetIndex, end);
    ASSERT_LE(end, static_cast<int>(samples.size()));
    EXPECT_TRUE(std::equal(chunk.audioSamples.begin(), chunk.audioSamples.end(),
                           samples.begin() + chunk.seekOffsetIndex));
  }
  EXPECT_EQ(ranges, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, VADAudioChunkerTest,
    ::testing::Values(
        // The window 0-30 s is analysed over 15-30 s; the pause [24.5, 25.5) holds frames
        // 95..104 of that half, whose middle frame 100 starts at 25.0 s.
        ChunkCase{"pause_near_25s", 40, {{24.5, 25.5}}, {}, {{0, 400000}, {400000, 640000}}},
        ChunkCase{"no_pause", 40, {}, {}, {{0, 480000}, {480000, 640000}}},
        // Two pauses of 0.5 s: the earlier wins (frames 50..54, middle 52: 15 + 5.2 s).
        ChunkCase{
            "equal_pauses", 40, {{20.0, 20.5}, {26.0, 26.5}}, {}, {{0, 323200}, {323200, 640000}}},
        // The longer pause wins wherever it is.
        ChunkCase{"longer_pause_later",
                  40,
                  {{20.0, 20.5}, {26.0, 27.0}},
                  {},
                  {{0, 424000}, {424000, 640000}}},
        // A cut at 29.9 s would leave exactly the padding: the last chunk takes it in, as a
        // window over the whole signal would (a remainder of its own is too short to decode).
        ChunkCase{"remainder_within_padding", 30.9, {{29.8, 30.0}}, {}, {{0, 494400}}},
        // 490,000 samples with a pause near the end: the last 0.725 s are speech too.
        ChunkCase{"speech_after_a_late_pause", 30.625, {{29.8, 30.0}}, {}, {{0, 490000}}},
        // 488,000 samples of speech: the window's end would leave half a second.
        ChunkCase{"speech_half_a_second_past_the_window", 30.5, {}, {}, {{0, 488000}}},
        // A clip range no longer than the window clip time (1 s) is not decoded: no chunk.
        ChunkCase{"short_clip_range", 40, {}, {2.0, 2.5}, {}},
        // A remainder within the padding of a clip range's end joins that range's last chunk.
        ChunkCase{"remainder_of_a_clip_range",
                  70,
                  {},
                  {0.0, 30.5, 40.0},
                  {{0, 488000}, {640000, 1120000}}},
        ChunkCase{"clip_range", 40, {{24.5, 25.5}}, {2.0, 12.0}, {{32000, 192000}}},
        // Clip times past the end of the audio are clamped to it.
        ChunkCase{"clip_beyond_the_signal",
                  40,
                  {{24.5, 25.5}},
                  {0.0, 100.0},
                  {{0, 400000}, {400000, 640000}}},
        // The last window reaches the clip's end, 5 s past the signal: the chunk stops at
        // the signal's end.
        ChunkCase{"clip_end_past_the_signal",
                  40,
                  {{24.5, 25.5}},
                  {0.0, 45.0},
                  {{0, 400000}, {400000, 640000}}},
        ChunkCase{"open_clip_beyond_the_end", 40, {}, {50.0}, {}}),
    [](const auto &info) { return std::string(info.param.name); });

// A clip range shorter than the padding is made into a chunk only when the window clip time
// lets a window start on it.
TEST(VADAudioChunkerEdgeTest, AShortClipRangeIsAChunkWhenAWindowWouldStartOnIt) {
  struct Case {
    float windowClipTime;
    std::vector<std::pair<int, int>> expected;
  };
  const Case cases[] = {
      {1.0f, {}}, {0.5f, {}}, {0.25f, {{32000, 40000}}}, {0.0f, {{32000, 40000}}}};
  const auto samples = speechWithPauses(40, {});
  for (const auto &c : cases) {
    SCOPED_TRACE(c.windowClipTime);
    DecodingOptions options;
    options.clipTimestamps = {2.0f, 2.5f};
    options.windowClipTime = c.windowClipTime;
    std::vector<std::pair<int, int>> ranges;
    for (const auto &chunk : VADAudioChunker(16000).chunkAll(samples, 480000, options)) {
      ranges.emplace_back(chunk.seekOffsetIndex,
                          chunk.seekOffsetIndex + static_cast<int>(chunk.audioSamples.size()));
    }
    EXPECT_EQ(ranges, c.expected);
  }
}

TEST(VADAudioChunkerEdgeTest, ShortAudioIsOneChunkAndOutOfRangeClipsFail) {
  VADAudioChunker chunker;
  const auto samples = speechWithPauses(30, {});
  const auto single = chunker.chunkAll(samples, 480000, std::nullopt);
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0].seekOffsetIndex, 0);
  EXPECT_EQ(single[0].audioSamples.size(), 480000u);

  DecodingOptions options;
  options.clipTimestamps = {50.0f, 60.0f};
  const auto longer = speechWithPauses(40, {});
  try {
    chunker.chunkAll(longer, 480000, options);
    ADD_FAILURE() << "chunked";
  } catch (const WhisperError &error) {
    EXPECT_EQ(error.errorCase(), WhisperError::Case::audioProcessingFailed);
    EXPECT_EQ(error.message(), "startIndex is outside the buffer size");
  }

  audiotest::LogCapture logs;
  chunker.chunkAll(speechWithPauses(40, {{24.5, 25.5}}), 480000, std::nullopt);
  EXPECT_EQ(logs.startingWith("Found chunk"),
            (std::vector<std::string>{"Found chunk from 0.00 to 25.00",
                                      "Found chunk from 25.00 to 40.00"}));
}

std::shared_ptr<TranscriptionResult> resultWithSegment(int seek, float start, float end) {
  TranscriptionSegment segment;
  segment.seek = seek;
  segment.start = start;
  segment.end = end;
  segment.text = "hello";
  segment.words = std::vector<divuvovize::WordTiming>{{" hello", {1}, start, end, 0.9f}};
  TranscriptionSegment bare = segment;
  bare.words.reset();
  return std::make_shared<TranscriptionResult>("hello", std::vector{segment, bare}, "en");
}

TEST(UpdateSeekOffsetsTest, MovesChunkResultsOntoOneTimeLine) {
  VADAudioChunker chunker;
  const std::vector<AudioChunk> chunks{{0, {}}, {480000, {}}, {960000, {}}, {1440000, {}}};
  const auto first = resultWithSegment(0, 0.5f, 1.0f);
  const auto third = resultWithSegment(32000, 2.0f, 3.5f);
  const std::vector<ChunkTranscriptionResult> outcomes{
      {std::vector{first}},
      {std::make_exception_ptr(WhisperError::transcriptionFailed("window failed"))},
      {std::vector{third}},
      {std::vector<std::shared_ptr<TranscriptionResult>>{}}};
  audiotest::LogCapture logs;
  const auto merged = chunker.updateSeekOffsetsForResults(outcomes, chunks);
  EXPECT_EQ(logs.startingWith("Error transcribing chunk"),
            (std::vector<std::string>{"Error transcribing chunk 1: window failed"}));
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_EQ(merged[0], first);
  EXPECT_EQ(merged[1], third);
  EXPECT_EQ(first->seekTime(), 0.0f);
  EXPECT_EQ(first->segments()[0].start, 0.5f);

  EXPECT_EQ(third->seekTime(), 60.0f);
  const auto segments = third->segments();
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].seek, 32000 + 960000);
  EXPECT_EQ(segments[0].start, 62.0f);
  EXPECT_EQ(segments[0].end, 63.5f);
  EXPECT_EQ((*segments[0].words)[0].start, 62.0f);
  EXPECT_EQ((*segments[0].words)[0].end, 63.5f);
  EXPECT_FALSE(segments[1].words.has_value());
  EXPECT_EQ(segments[1].seek, 992000);
  EXPECT_EQ(third->text(), "hello");
  EXPECT_EQ(third->language(), "en");
}

TEST(UpdateSeekOffsetsTest, AChunkAtThirtySecondsShiftsByThirtySeconds) {
  VADAudioChunker chunker;
  const auto result = resultWithSegment(0, 0.0f, 1.25f);
  const auto merged =
      chunker.updateSeekOffsetsForResults({{std::vector{result}}}, {AudioChunk{480000, {}}});
  ASSERT_EQ(merged.size(), 1u);
  EXPECT_EQ(result->seekTime(), 30.0f);
  EXPECT_EQ(result->segments()[0].seek, 480000);
  EXPECT_EQ(result->segments()[0].start, 30.0f);
  EXPECT_EQ(result->segments()[0].end, 31.25f);
}

} // namespace
