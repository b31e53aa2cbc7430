#include "DivuvovIze/Audio/AudioInputConfig.hpp"
#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "tests/DivuvovIze/Audio/AudioTestSupport.hpp"

#include <unordered_set>

#include <gtest/gtest.h>

namespace {

using divuvovize::AudioInputConfig;
using divuvovize::AudioProcessor;
using divuvovize::Json;
using divuvovize::JsonDecodingError;
using platform::AudioFormat;
using platform::PcmBuffer;
using ChannelMode = AudioInputConfig::ChannelMode;

std::shared_ptr<PcmBuffer> stereo(const std::vector<float> &left, const std::vector<float> &right) {
  auto buffer =
      PcmBuffer::make(*AudioFormat::standard(16000, 2), static_cast<std::uint32_t>(left.size()));
  std::copy(left.begin(), left.end(), buffer->floatChannelData(0));
  std::copy(right.begin(), right.end(), buffer->floatChannelData(1));
  buffer->setFrameLength(static_cast<std::uint32_t>(left.size()));
  return buffer;
}

std::vector<float> samplesOf(const PcmBuffer &buffer) {
  return AudioProcessor::convertBufferToArray(buffer, 1024);
}

TEST(ConvertToMonoTest, MixesChannelsAsTheModeSays) {
  const std::vector<float> left{0.5f, -0.25f, 0.1f};
  const std::vector<float> right{0.3f, 0.2f, 0.4f};
  struct Case {
    const char *name;
    ChannelMode mode;
    std::vector<float> expected;
    bool logsFallback;
  };
  // Sum of both, rescaled to the louder channel's peak 0.5: the sum peaks at 0.8 (frame 0).
  const float s = 0.5f / 0.8f;
  const Case cases[] = {
      {"specific 1", ChannelMode::specificChannel(1), right, false},
      {"specific out of range", ChannelMode::specificChannel(5), left, false},
      {"specific negative", ChannelMode::specificChannel(-1), left, false},
      {"sum all", ChannelMode::sumChannels(), {0.8f * s, -0.05f * s, 0.5f * s}, false},
      {"sum empty list",
       ChannelMode::sumChannels(std::vector<int>{}),
       {0.8f * s, -0.05f * s, 0.5f * s},
       false},
      {"sum channel 0 twice", ChannelMode::sumChannels(std::vector<int>{0, 0}), left, false},
      {"sum invalid only", ChannelMode::sumChannels(std::vector<int>{7}), left, true},
      {"sum skips invalid", ChannelMode::sumChannels(std::vector<int>{9, 1}), right, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    audiotest::LogCapture logs;
    const auto mono = AudioProcessor::convertToMono(stereo(left, right), c.mode);
    ASSERT_NE(mono, nullptr);
    EXPECT_EQ(mono->format(), *AudioFormat::standard(16000, 1));
    const auto samples = samplesOf(*mono);
    ASSERT_EQ(samples.size(), c.expected.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
      EXPECT_NEAR(samples[i], c.expected[i], 1e-6f) << "frame " << i;
    }
    EXPECT_EQ(
        logs.startingWith("No valid channel indices provided, defaulting to first channel").size(),
        c.logsFallback ? 1u : 0u);
  }
}

TEST(ConvertToMonoTest, OneChannelIsReturnedAsIsAndSilenceStaysSilent) {
  auto mono = PcmBuffer::make(*AudioFormat::standard(8000, 1), 4);
  for (const auto &mode : {ChannelMode::sumChannels(), ChannelMode::specificChannel(3)}) {
    EXPECT_EQ(AudioProcessor::convertToMono(mono, mode), mono);
  }
  const auto silent =
      AudioProcessor::convertToMono(stereo({0, 0}, {0, 0}), ChannelMode::sumChannels());
  EXPECT_EQ(samplesOf(*silent), (std::vector<float>{0, 0}));

  // Integer samples cannot be mixed.
  auto ints = PcmBuffer::make(
      *AudioFormat::make(16000, 2, platform::AudioCommonFormat::pcmFormatInt16, false), 4);
  audiotest::LogCapture logs;
  EXPECT_EQ(AudioProcessor::convertToMono(ints, ChannelMode::sumChannels()), nullptr);
  EXPECT_EQ(logs.lines(), (std::vector<std::string>{"Buffer did not contain floatChannelData."}));
}

TEST(ConvertBufferToArrayTest, CopiesTheFirstChannelWhateverTheChunkSize) {
  std::vector<float> left(2500), right(2500, 9.0f);
  for (std::size_t i = 0; i < left.size(); ++i) {
    left[i] = static_cast<float>(i);
  }
  const auto buffer = stereo(left, right);
  for (int chunk : {1, 1024, 2500, 4096, 0}) {
    SCOPED_TRACE(chunk);
    EXPECT_EQ(AudioProcessor::convertBufferToArray(*buffer, chunk), left);
  }
  buffer->setFrameLength(10);
  EXPECT_EQ(AudioProcessor::convertBufferToArray(*buffer, 4).size(), 10u);

  auto ints = PcmBuffer::make(
      *AudioFormat::make(16000, 1, platform::AudioCommonFormat::pcmFormatInt16, false), 4);
  ints->setFrameLength(4);
  EXPECT_TRUE(AudioProcessor::convertBufferToArray(*ints, 1024).empty());
}

TEST(ResampleBufferTest, CapacityIsTheRoundedConvertedLength) {
  struct Case {
    double rate;
    std::uint32_t frames;
    std::uint32_t capacity;
    const char *roundingLog; // empty: none
  };
  const Case cases[] = {
      {44100, 44100, 16000, ""},
      {44100, 1000, 363,
       "Rounding buffer frame capacity from 362.81179138321994 to 363.0 to better fit new "
       "sample rate"},
      {48000, 4800, 1600, ""},
      {44100, 1, 1,
       "Rounding buffer frame capacity from 0.36281179138321995 to 1.0 to better "
       "fit new sample rate"},
      // 22050 frames -> 8000 exactly; 11025 -> 4000; 1378 -> 499.98... -> 500
      {44100, 1378, 500,
       "Rounding buffer frame capacity from 499.9546485260771 to 500.0 to "
       "better fit new sample rate"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.frames);
    auto converter = platform::AudioConverter::make(*AudioFormat::standard(c.rate, 1),
                                                    *AudioFormat::standard(16000, 1));
    auto input = PcmBuffer::make(*AudioFormat::standard(c.rate, 1), c.frames);
    input->setFrameLength(c.frames);
    audiotest::LogCapture logs;
    const auto output = AudioProcessor::resampleBuffer(input, *converter);
    EXPECT_EQ(output->frameCapacity(), c.capacity);
    // A one-off call drains the converter: all its frames come out (at most one short of the
    // rounded capacity), none held back in the filter.
    EXPECT_LE(output->frameLength(), c.capacity);
    EXPECT_GE(output->frameLength() + 1, c.capacity);
    const auto rounding = logs.startingWith("Rounding buffer frame capacity");
    if (std::string(c.roundingLog).empty()) {
      EXPECT_TRUE(rounding.empty());
    } else {
      EXPECT_EQ(rounding, (std::vector<std::string>{c.roundingLog}));
    }
  }
}

TEST(ResampleBufferTest, AOneOffCallReturnsTheToneAndLeavesTheConverterFresh) {
  auto converter = platform::AudioConverter::make(*AudioFormat::standard(44100, 1),
                                                  *AudioFormat::standard(16000, 1));
  const auto tone = audiotest::sine(1000, 44100);
  auto input = PcmBuffer::make(*AudioFormat::standard(44100, 1), 4410);
  for (int i = 0; i < 4410; ++i) {
    input->floatChannelData(0)[i] = tone(0, i);
  }
  input->setFrameLength(4410);
  for (int call = 0; call < 2; ++call) {
    SCOPED_TRACE(call);
    const auto output = AudioProcessor::resampleBuffer(input, *converter);
    ASSERT_EQ(output->frameLength(), 1600u);
    // Each call starts at the tone's own phase: nothing of the earlier call leaks into it.
    const auto fit = audiotest::fitSine(samplesOf(*output), 16000, 1000, 160, 1440);
    EXPECT_NEAR(fit.amplitude, 0.5, 0.01);
    EXPECT_LT(std::abs(fit.phaseError), 1e-2);
  }
}

TEST(ResampleBufferTest, ConsecutiveBuffersThroughOneConverterMakeOneSignal) {
  // 1 s at 48 kHz fed as 0.1 s tap buffers, as live input arrives.
  auto converter = platform::AudioConverter::make(*AudioFormat::standard(48000, 1),
                                                  *AudioFormat::standard(16000, 1));
  const auto tone = audiotest::sine(1000, 48000);
  std::vector<float> collected;
  for (int first = 0; first < 48000; first += 4800) {
    auto input = PcmBuffer::make(*AudioFormat::standard(48000, 1), 4800);
    for (int i = 0; i < 4800; ++i) {
      input->floatChannelData(0)[i] = tone(0, first + i);
    }
    input->setFrameLength(4800);
    const auto output = AudioProcessor::resampleStreamBuffer(input, *converter);
    EXPECT_EQ(output->frameCapacity(), 1600u);
    const auto samples = samplesOf(*output);
    collected.insert(collected.end(), samples.begin(), samples.end());
  }
  // The filter holds back a few milliseconds until the stream is drained.
  EXPECT_GT(collected.size(), 15000u);
  EXPECT_LT(collected.size(), 16000u);
  const auto tail = AudioProcessor::drainConverter(*converter);
  collected.insert(collected.end(), tail.begin(), tail.end());
  EXPECT_EQ(collected.size(), 16000u);
  // What came out is the tone, unshifted.
  const auto fit = audiotest::fitSine(collected, 16000, 1000, 800, collected.size() - 200);
  EXPECT_NEAR(fit.amplitude, 0.5, 0.5 * 0.0116); // 0.1 dB
  EXPECT_LT(std::abs(fit.phaseError), 1e-3);
  EXPECT_LT(fit.residualDb, -60);
}

TEST(ResampleAudioTest, ConvertsAWholeBufferToTheTargetFormat) {
  const auto tone = audiotest::sine(1000, 44100);
  auto input = PcmBuffer::make(*AudioFormat::standard(44100, 2), 44100);
  for (std::uint32_t c = 0; c < 2; ++c) {
    for (int i = 0; i < 44100; ++i) {
      input->floatChannelData(c)[i] = tone(c, i);
    }
  }
  input->setFrameLength(44100);
  const auto output = AudioProcessor::resampleAudio(input, 16000, 2);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(output->format(), *AudioFormat::standard(16000, 2));
  EXPECT_EQ(output->frameLength(), 16000u);
  const auto fit = audiotest::fitSine(samplesOf(*output), 16000, 1000, 800, 15200);
  EXPECT_LT(fit.residualDb, -60);

  audiotest::LogCapture logs;
  EXPECT_EQ(AudioProcessor::resampleAudio(input, 0, 1), nullptr);
  EXPECT_EQ(logs.lines(), (std::vector<std::string>{"Failed to create output audio format"}));
}

TEST(AudioInputConfigTest, EncodesEachModeAsOneKeyedObject) {
  struct Case {
    ChannelMode mode;
    const char *json;
  };
  const Case cases[] = {
      {ChannelMode::specificChannel(1), R"({"specificChannel":{"_0":1}})"},
      {ChannelMode::sumChannels(), R"({"sumChannels":{}})"},
      {ChannelMode::sumChannels(std::vector<int>{0, 2}), R"({"sumChannels":{"_0":[0,2]}})"},
      {ChannelMode::sumChannels(std::vector<int>{}), R"({"sumChannels":{"_0":[]}})"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(c.mode.toJson().dump(), c.json);
    EXPECT_EQ(ChannelMode::fromJson(Json::parse(c.json)), c.mode);
  }
  const AudioInputConfig config{ChannelMode::specificChannel(0)};
  EXPECT_EQ(AudioInputConfig::fromJson(config.toJson()), config);
  EXPECT_EQ(AudioInputConfig().channelMode, ChannelMode::sumChannels());

  for (const char *bad : {R"({})", R"({"specificChannel":{"_0":1},"sumChannels":{}})"}) {
    SCOPED_TRACE(bad);
    try {
      ChannelMode::fromJson(Json::parse(bad));
      ADD_FAILURE() << "decoded";
    } catch (const JsonDecodingError &error) {
      EXPECT_EQ(error.kind(), JsonDecodingError::Kind::typeMismatch);
      EXPECT_STREQ(error.what(), "Invalid number of keys found, expected one.");
    }
  }
}

TEST(AudioInputConfigTest, EqualityAndHashingGoByCaseAndPayload) {
  const std::vector<ChannelMode> distinct{ChannelMode::specificChannel(0),
                                          ChannelMode::specificChannel(1),
                                          ChannelMode::sumChannels(),
                                          ChannelMode::sumChannels(std::vector<int>{}),
                                          ChannelMode::sumChannels(std::vector<int>{0}),
                                          ChannelMode::sumChannels(std::vector<int>{0, 1})};
  std::unordered_set<ChannelMode> set(distinct.begin(), distinct.end());
  EXPECT_EQ(set.size(), distinct.size());
  for (std::size_t i = 0; i < distinct.size(); ++i) {
    for (std::size_t j = 0; j < distinct.size(); ++j) {
      EXPECT_EQ(distinct[i] == distinct[j], i == j) << i << " vs " << j;
    }
  }
  EXPECT_EQ(ChannelMode::sumChannels(), ChannelMode::sumChannels(std::nullopt));
  EXPECT_EQ(std::hash<ChannelMode>{}(ChannelMode::sumChannels()),
            std::hash<ChannelMode>{}(ChannelMode::sumChannels()));
}

} // namespace
