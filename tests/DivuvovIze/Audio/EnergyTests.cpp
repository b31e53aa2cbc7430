#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "tests/DivuvovIze/Audio/AudioTestSupport.hpp"

#include <cstring>
#include <limits>
#include <numeric>

#include <gtest/gtest.h>

namespace {

using divuvovize::AudioProcessing;
using divuvovize::AudioProcessor;
using divuvovize::ImageSize;

std::vector<float> ramp(std::size_t count) {
  std::vector<float> samples(count);
  std::iota(samples.begin(), samples.end(), 1.0f);
  return samples;
}

TEST(PadOrTrimTest, FitsSamplesToTheWindow) {
  const auto samples = ramp(160000); // 10 s
  struct Case {
    const char *name;
    int startAt;
    int toLength;
    int copied; // samples taken from startAt, the rest zero
  };
  const Case cases[] = {
      {"pads ten seconds", 0, 480000, 160000},
      {"trims", 1000, 5000, 5000},
      {"pads from the middle", 150000, 20000, 10000},
      {"last sample", 159999, 3, 1},
      {"zero length", 5, 0, 0},
  };
  AudioProcessor processor;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const auto window = processor.padOrTrim(samples, c.startAt, c.toLength);
    ASSERT_TRUE(window.has_value());
    EXPECT_EQ(window->shape(), (std::vector<int>{c.toLength}));
    EXPECT_EQ(window->dataType(), platform::MLMultiArrayDataType::float32);
    const float *values = window->data<float>();
    for (int i = 0; i < c.toLength; ++i) {
      const float expected = i < c.copied ? samples[static_cast<std::size_t>(c.startAt + i)] : 0.0f;
      ASSERT_EQ(values[i], expected) << "element " << i;
    }
  }
}

TEST(PadOrTrimTest, StartOutsideTheArrayGivesNothing) {
  const auto samples = ramp(100);
  struct Case {
    std::span<const float> samples;
    int startAt;
    int toLength;
  };
  const Case cases[] = {
      {samples, 100, 10}, {samples, -1, 10}, {samples, 1000, 10}, {{}, 0, 10}, {samples, 0, -5}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.startAt);
    audiotest::LogCapture logs;
    EXPECT_FALSE(AudioProcessing::padOrTrimAudio(c.samples, c.startAt, c.toLength).has_value());
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{"startIndex is outside the buffer size"}));
  }
}

TEST(VoiceDetectedTest, LooksAtTheOlderPartOfTheRecentHistory) {
  // Entry i is loud only where the case plants it.
  struct Case {
    const char *name;
    float seconds;
    std::vector<int> loud; // indices above the threshold in a 30-entry history
    bool expected;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {
      {"1 s reads entries 20..29 (first)", 1.0f, {20}, true},
      {"1 s reads entries 20..29 (last)", 1.0f, {29}, true},
      {"1 s misses entry 19", 1.0f, {19}, false},
      {"3 s reads entries 0..19", 3.0f, {0}, true},
      {"3 s reads up to 19", 3.0f, {19}, true},
      {"3 s skips the newest 10", 3.0f, {20, 25, 29}, false},
      {"1.5 s reads the oldest 10 of 15", 1.5f, {15, 24}, true},
      {"1.5 s skips the newest 5 of 15", 1.5f, {25, 29}, false},
      {"0.05 s reads nothing", 0.05f, {29}, false},
      // Windows longer than the history read all of it (less the newest 10); none crashes.
      {"huge window", 1e30f, {0}, true},
      {"huge window skips the newest", 1e30f, {20}, false},
      {"infinite window", inf, {5}, true},
      {"NaN window", nan, {0, 10, 20, 29}, false},
      {"negative window", -2.0f, {0, 10, 20, 29}, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<float> energy(30, 0.1f);
    for (int index : c.loud) {
      energy[static_cast<std::size_t>(index)] = 0.5f;
    }
    EXPECT_EQ(AudioProcessor::isVoiceDetected(energy, c.seconds, 0.3f), c.expected);
  }
  EXPECT_FALSE(AudioProcessor::isVoiceDetected({}, 1.0f, 0.3f));
  const std::vector<float> five{0.1f, 0.1f, 0.1f, 0.1f, 0.31f};
  EXPECT_TRUE(AudioProcessor::isVoiceDetected(five, 2.0f, 0.3f));
  EXPECT_FALSE(AudioProcessor::isVoiceDetected(five, 2.0f, 0.31f)); // strictly above
}

TEST(EnergyTest, MeasuresLevels) {
  const std::vector<float> samples{0.5f, -0.5f, 0.25f, -0.25f};
  const auto energy = AudioProcessor::calculateEnergy(samples);
  EXPECT_FLOAT_EQ(energy.avg,
                  std::sqrt(0.15625f)); // mean square (0.25 + 0.25 + 0.0625 + 0.0625) / 4
  EXPECT_EQ(energy.max, 0.5f);
  EXPECT_EQ(energy.min, 0.25f);
  EXPECT_EQ(AudioProcessor::calculateAverageEnergy(samples), energy.avg);
  const auto none = AudioProcessor::calculateEnergy({});
  EXPECT_EQ(none.avg, 0.0f);
  EXPECT_EQ(none.max, 0.0f);
  EXPECT_EQ(none.min, 0.0f);
}

TEST(EnergyTest, RelativeEnergyRunsFromTheReferenceToFullScale) {
  struct Case {
    const char *name;
    float level; // constant sample value: the RMS
    std::optional<float> reference;
    float expected;
  };
  const Case cases[] = {
      {"-60 dB is the floor", 0.001f, std::nullopt, 0.0f},
      {"full scale", 1.0f, std::nullopt, 1.0f},
      {"above full scale", 2.0f, std::nullopt, 1.0f},
      {"-30 dB is halfway", 0.0316227766f, std::nullopt, 0.5f},
      {"below the floor", 0.0001f, std::nullopt, 0.0f},
      {"silence", 0.0f, std::nullopt, 0.0f},
      {"against -40 dB", 0.1f, 0.01f, 0.5f},
      {"reference floor 1e-8", 1e-4f, 0.0f, 0.5f},
      {"at the reference", 0.01f, 0.01f, 0.0f},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<float> samples(64, c.level);
    EXPECT_NEAR(AudioProcessor::calculateRelativeEnergy(samples, c.reference), c.expected, 1e-5f);
  }
}

TEST(VoiceActivityInChunksTest, FramesCoverTheirOverlapAndStopAtTheEnd) {
  // Frame length 4, overlap 2, 10 samples: frames [0, 6), [4, 10), [8, 10).
  std::vector<float> samples(10, 0.0f);
  samples[5] = 1.0f; // in frames 0 and 1
  EXPECT_EQ(AudioProcessor::calculateVoiceActivityInChunks(samples, 3, 4, 2, 0.1f),
            (std::vector<bool>{true, true, false}));
  samples[5] = 0.0f;
  samples[9] = 1.0f; // in frames 1 and 2
  EXPECT_EQ(AudioProcessor::calculateVoiceActivityInChunks(samples, 3, 4, 2, 0.1f),
            (std::vector<bool>{false, true, true}));
  // Frames that start at or past the end are empty and silent, never a read past the array.
  EXPECT_EQ(AudioProcessor::calculateVoiceActivityInChunks(samples, 6, 4, 2, 0.1f),
            (std::vector<bool>{false, true, true, false, false, false}));
  EXPECT_EQ(AudioProcessor::calculateVoiceActivityInChunks(samples, 2, 1000, 0, 0.1f),
            (std::vector<bool>{true, false}));
  EXPECT_TRUE(AudioProcessor::calculateVoiceActivityInChunks(samples, -3, 4, 0, 0.1f).empty());
}

TEST(VoiceActivityInChunksTest, NonSilentChunksUseTenthSecondFrames) {
  std::vector<float> samples(16000, 0.0f);
  std::fill(samples.begin() + 3200, samples.begin() + 6400, 0.5f);
  std::fill(samples.begin() + 15000, samples.end(), 0.5f);
  const auto chunks = AudioProcessor::calculateNonSilentChunks(samples);
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0], (divuvovize::IndexRange{3200, 6400}));
  EXPECT_EQ(chunks[1], (divuvovize::IndexRange{14400, 16000}));
}

} // namespace

TEST(WaveformImageTest, SamplesBecomePixelsOfATruncatedSize) {
  const std::vector<float> samples = {0.5f, -1.0f, 0.25f, 2.0f, -0.125f, 1e-3f, 7.0f};
  struct Case {
    ImageSize size;
    int width;
    int height;
  };
  const Case cases[] = {{{3, 2}, 3, 2}, {{2.9, 2.99}, 2, 2}, {{7, 1}, 7, 1}, {{1, 1}, 1, 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.size.width);
    const auto image = AudioProcessing::createWaveformImage(samples, c.size);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, c.width);
    EXPECT_EQ(image->height, c.height);
    EXPECT_EQ(image->bytesPerRow, c.width * 4);
    const auto count = static_cast<std::size_t>(c.width * c.height);
    ASSERT_EQ(image->pixels.size(), count * 4);
    // Each pixel holds its sample's bytes unchanged, in row order.
    EXPECT_EQ(std::memcmp(image->pixels.data(), samples.data(), count * 4), 0);
  }
}

TEST(WaveformImageTest, SizesTheSamplesCannotFillGiveNothing) {
  const std::vector<float> samples(6, 0.5f);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const ImageSize sizes[] = {{3, 3},   {7, 1},   {0, 4},   {4, 0.5},
                             {-2, -3}, {nan, 1}, {1, inf}, {1e300, 1e300}};
  for (const auto &size : sizes) {
    SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height));
    EXPECT_FALSE(AudioProcessing::createWaveformImage(samples, size).has_value());
  }
  EXPECT_FALSE(AudioProcessing::createWaveformImage({}, {1, 1}).has_value());
}
