#include "platform/audio/AudioConverter.hpp"

#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/SineFit.hpp"
#include "tests/support/Tones.hpp"

namespace {

using platform::AudioCommonFormat;
using platform::AudioConverter;
using platform::AudioConverterInput;
using platform::AudioConverterInputStatus;
using platform::AudioConverterOutputStatus;
using platform::AudioFormat;
using platform::PcmBuffer;

// Planar float buffer holding `channels` copies of sin(2 pi f t) (channel c scaled by 1/(c+1)),
// starting at frame `first` of the signal.
std::shared_ptr<PcmBuffer> sine(double rate, std::uint32_t channels, double frequency,
                                std::uint32_t first, std::uint32_t frames) {
  return mqtest::sineBuffer(frequency, rate, channels, frames, /*amplitude=*/1.0, first);
}

// Feeds `total` frames of a sine in blocks of `block` frames (each once), then ends the stream;
// returns channel `channel` of everything the converter produced.
std::vector<float> convertStream(AudioConverter &converter, double frequency, std::uint32_t total,
                                 std::uint32_t block, std::uint32_t channel = 0,
                                 int *calls = nullptr) {
  const double rate = converter.inputFormat().sampleRate();
  std::uint32_t fed = 0;
  int asked = 0;
  auto input = [&](std::uint32_t) {
    ++asked;
    if (fed >= total) {
      return AudioConverterInput{nullptr, AudioConverterInputStatus::endOfStream};
    }
    const std::uint32_t n = std::min(block, total - fed);
    auto buffer = sine(rate, converter.inputFormat().channelCount(), frequency, fed, n);
    fed += n;
    return AudioConverterInput{buffer, AudioConverterInputStatus::haveData};
  };
  std::vector<float> result;
  auto output = PcmBuffer::make(converter.outputFormat(), 4096);
  for (;;) {
    std::string error;
    const auto status = converter.convert(*output, error, input);
    EXPECT_NE(status, AudioConverterOutputStatus::error) << error;
    const float *samples = output->floatChannelData(channel);
    result.insert(result.end(), samples, samples + output->frameLength());
    if (status != AudioConverterOutputStatus::haveData) {
      break;
    }
  }
  if (calls != nullptr) {
    *calls = asked;
  }
  return result;
}

using mqtest::fitSine;
using mqtest::SineFit;

double rmsDb(const std::vector<float> &x, std::size_t begin, std::size_t end) {
  double sum = 0;
  for (std::size_t i = begin; i < end; ++i) {
    sum += static_cast<double>(x[i]) * x[i];
  }
  return 10 * std::log10(sum / static_cast<double>(end - begin) + 1e-30);
}

struct RateCase {
  double from;
  double to;
  std::uint32_t channels;
  std::uint32_t block;
};

class AudioConverterRateTest : public ::testing::TestWithParam<RateCase> {};

TEST_P(AudioConverterRateTest, KeepsLengthTimingAndLevelOfASine) {
  const RateCase c = GetParam();
  auto converter = AudioConverter::make(*AudioFormat::standard(c.from, c.channels),
                                        *AudioFormat::standard(c.to, c.channels));
  ASSERT_NE(converter, nullptr);
  const auto total = static_cast<std::uint32_t>(c.from * 2); // 2 s
  for (std::uint32_t channel = 0; channel < c.channels; ++channel) {
    SCOPED_TRACE(channel);
    converter->reset();
    const auto out = convertStream(*converter, 1000, total, c.block, channel);
    const double expected = total * c.to / c.from;
    EXPECT_NEAR(static_cast<double>(out.size()), expected, 1.0);
    // Skip 50 ms at both ends, where the abrupt start and end of the tone ring.
    const auto margin = static_cast<std::size_t>(c.to / 20);
    const SineFit fit = fitSine(out, c.to, 1000, margin, out.size() - margin);
    const double levelDb = 20 * std::log10(fit.amplitude * (channel + 1));
    EXPECT_LT(std::abs(levelDb), 0.1);
    EXPECT_LT(std::abs(fit.phaseError), 1e-3); // 1e-3 rad at 1 kHz is 0.16 microseconds
    EXPECT_LT(fit.residualDb, -60.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, AudioConverterRateTest,
                         ::testing::Values(RateCase{44100, 16000, 1, 1024},
                                           RateCase{48000, 16000, 2, 4410},
                                           RateCase{16000, 16000, 1, 1600},
                                           RateCase{8000, 16000, 1, 333},
                                           RateCase{22050, 16000, 2, 100000}));

TEST(AudioConverterTest, ToneAboveTheTargetNyquistDoesNotAlias) {
  auto converter =
      AudioConverter::make(*AudioFormat::standard(44100, 1), *AudioFormat::standard(16000, 1));
  const auto out = convertStream(*converter, 12000, 88200, 4096);
  ASSERT_GT(out.size(), 3200u);
  // A full-scale sine is -3 dB; what folds back must stay 60 dB below it.
  EXPECT_LT(rmsDb(out, 800, out.size() - 800), -63.0);
}

TEST(AudioConverterTest, FeedsEveryBufferOnceWhateverTheBlockSize) {
  auto reference =
      AudioConverter::make(*AudioFormat::standard(44100, 1), *AudioFormat::standard(16000, 1));
  const auto whole = convertStream(*reference, 440, 44100, 44100);
  for (std::uint32_t block : {1u, 7u, 1000u, 4096u}) {
    SCOPED_TRACE(block);
    auto converter =
        AudioConverter::make(*AudioFormat::standard(44100, 1), *AudioFormat::standard(16000, 1));
    int calls = 0;
    const auto pieces = convertStream(*converter, 440, 44100, block, 0, &calls);
    ASSERT_EQ(pieces.size(), whole.size());
    for (std::size_t i = 0; i < whole.size(); ++i) {
      ASSERT_NEAR(pieces[i], whole[i], 1e-5f) << "at " << i;
    }
    // One call per block plus the one that reports the end.
    EXPECT_EQ(calls, static_cast<int>((44100 + block - 1) / block) + 1);
  }
}

TEST(AudioConverterTest, NoDataNowKeepsTheStreamGoing) {
  auto converter =
      AudioConverter::make(*AudioFormat::standard(48000, 1), *AudioFormat::standard(16000, 1));
  auto output = PcmBuffer::make(converter->outputFormat(), 16000);
  std::vector<float> collected;
  for (std::uint32_t first = 0; first < 48000; first += 4800) {
    bool given = false;
    std::string error;
    const auto status = converter->convert(*output, error, [&](std::uint32_t) {
      if (given) {
        return AudioConverterInput{nullptr, AudioConverterInputStatus::noDataNow};
      }
      given = true;
      return AudioConverterInput{sine(48000, 1, 1000, first, 4800),
                                 AudioConverterInputStatus::haveData};
    });
    EXPECT_EQ(status, AudioConverterOutputStatus::inputRanDry);
    collected.insert(collected.end(), output->floatChannelData(0),
                     output->floatChannelData(0) + output->frameLength());
    // Output comes in bursts, but never ahead of the input given so far.
    EXPECT_LE(collected.size(), (first + 4800) / 3);
  }
  EXPECT_LT(collected.size(), 16000u); // the filter still holds its tail
  std::string error;
  const auto status = converter->convert(*output, error, [](std::uint32_t) {
    return AudioConverterInput{nullptr, AudioConverterInputStatus::endOfStream};
  });
  EXPECT_EQ(status, AudioConverterOutputStatus::endOfStream);
  collected.insert(collected.end(), output->floatChannelData(0),
                   output->floatChannelData(0) + output->frameLength());
  EXPECT_EQ(collected.size(), 16000u);
  const SineFit fit = fitSine(collected, 16000, 1000, 800, 15200);
  EXPECT_LT(fit.residualDb, -60.0);
  EXPECT_LT(std::abs(fit.phaseError), 1e-3);
}

TEST(AudioConverterTest, MapsChannelsAndReadsIntegerInput) {
  // Interleaved 16-bit stereo: left 0.5, right -0.25.
  const auto from = *AudioFormat::make(16000, 2, AudioCommonFormat::pcmFormatInt16, true);
  auto input = PcmBuffer::make(from, 100);
  for (int i = 0; i < 100; ++i) {
    input->int16ChannelData(0)[2 * i] = 16384;
    input->int16ChannelData(0)[2 * i + 1] = -8192;
  }
  input->setFrameLength(100);
  struct Case {
    std::uint32_t outChannels;
    std::vector<float> expected;
  };
  for (const Case &c : {Case{1, {0.5f}}, Case{2, {0.5f, -0.25f}}, Case{3, {0.5f, -0.25f, 0.5f}}}) {
    SCOPED_TRACE(c.outChannels);
    auto converter = AudioConverter::make(from, *AudioFormat::standard(16000, c.outChannels));
    ASSERT_NE(converter, nullptr);
    auto output = PcmBuffer::make(converter->outputFormat(), 100);
    std::string error;
    EXPECT_EQ(
        converter->convert(*output, error,
                           [&](std::uint32_t) {
                             return AudioConverterInput{input, AudioConverterInputStatus::haveData};
                           }),
        AudioConverterOutputStatus::haveData);
    ASSERT_EQ(output->frameLength(), 100u);
    for (std::uint32_t ch = 0; ch < c.outChannels; ++ch) {
      EXPECT_EQ(output->floatChannelData(ch)[0], c.expected[ch]);
      EXPECT_EQ(output->floatChannelData(ch)[99], c.expected[ch]);
    }
  }
}

TEST(AudioConverterTest, RefusesUnsupportedFormatsAndMismatchedBuffers) {
  const auto int16Out = *AudioFormat::make(16000, 1, AudioCommonFormat::pcmFormatInt16, false);
  EXPECT_EQ(AudioConverter::make(*AudioFormat::standard(44100, 1), int16Out), nullptr);

  auto converter =
      AudioConverter::make(*AudioFormat::standard(44100, 2), *AudioFormat::standard(16000, 1));
  std::string error;
  auto wrongOutput = PcmBuffer::make(*AudioFormat::standard(16000, 2), 10);
  EXPECT_EQ(converter->convert(*wrongOutput, error, nullptr), AudioConverterOutputStatus::error);
  EXPECT_NE(error.find("output buffer format"), std::string::npos) << error;

  auto output = PcmBuffer::make(*AudioFormat::standard(16000, 1), 10);
  error.clear();
  EXPECT_EQ(converter->convert(*output, error,
                               [](std::uint32_t) {
                                 return AudioConverterInput{sine(48000, 2, 1000, 0, 10),
                                                            AudioConverterInputStatus::haveData};
                               }),
            AudioConverterOutputStatus::error);
  EXPECT_NE(error.find("input buffer format"), std::string::npos) << error;
}

} // namespace
