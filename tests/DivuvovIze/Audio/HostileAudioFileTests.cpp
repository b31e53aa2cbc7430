// Damaged or hostile audio files: what a header claims never sizes a buffer, and rates no real
// file has are refused before anything is sized from them.

#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "tests/DivuvovIze/Audio/AudioTestSupport.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace {

using divuvovize::AudioProcessor;
using divuvovize::WhisperError;
using platform::AudioFileSettings;
using platform::AudioFileType;

std::string readBytes(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A FLAC file of `frames` real frames whose stream header announces `claimed` frames.
std::filesystem::path flacClaiming(const mqtest::TempDir &dir, const std::string &name, double rate,
                                   std::uint32_t channels, std::int64_t frames,
                                   std::uint64_t claimed) {
  const auto path = dir / name;
  audiotest::writeFile(path, {AudioFileType::flac, rate, channels}, frames,
                       audiotest::sine(440, rate));
  std::string bytes = readBytes(path);
  // "fLaC", a 4-byte block header, then the stream information: 10 bytes of block and frame
  // sizes, then 64 bits holding the rate (20), channels (3), bits per sample (5) and the
  // total frame count (36).
  EXPECT_EQ(bytes.substr(0, 4), "fLaC");
  constexpr std::size_t kPacked = 18;
  std::uint64_t packed = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    packed = packed << 8 | static_cast<unsigned char>(bytes[kPacked + i]);
  }
  packed = (packed & ~((std::uint64_t{1} << 36) - 1)) | claimed;
  for (std::size_t i = 0; i < 8; ++i) {
    bytes[kPacked + 7 - i] = static_cast<char>(packed >> (8 * i) & 0xff);
  }
  writeBytes(path, bytes);
  return path;
}

// Patches the sample rate of a WAV or AIFF file written by the test.
void setRate(const std::filesystem::path &path, AudioFileType type, std::uint32_t rate) {
  std::string bytes = readBytes(path);
  if (type == AudioFileType::wav) {
    const std::size_t at = bytes.find("fmt ") + 12; // after id, size, format tag and channels
    for (std::size_t i = 0; i < 4; ++i) {
      bytes[at + i] = static_cast<char>(rate >> (8 * i) & 0xff);
    }
  } else {
    // The COMM chunk stores the rate as an 80-bit extended float after 8 bytes of header and
    // 8 bytes of channels, frames and sample size.
    const std::size_t at = bytes.find("COMM") + 16;
    const int exponent = static_cast<int>(std::floor(std::log2(rate)));
    const std::uint16_t biased = static_cast<std::uint16_t>(16383 + exponent);
    const std::uint64_t mantissa = static_cast<std::uint64_t>(rate) << (63 - exponent);
    bytes[at] = static_cast<char>(biased >> 8);
    bytes[at + 1] = static_cast<char>(biased & 0xff);
    for (std::size_t i = 0; i < 8; ++i) {
      bytes[at + 2 + i] = static_cast<char>(mantissa >> (8 * (7 - i)) & 0xff);
    }
  }
  writeBytes(path, bytes);
}

constexpr std::uint64_t kClaimed = 4294967294;

struct ClaimCase {
  const char *name;
  double rate;
  std::uint32_t channels;
};

class ClaimedLengthTest : public ::testing::TestWithParam<ClaimCase> {};

// The 16 kHz mono file is read directly, the other one through the converter; both must be
// sized from the 8,000 (or 22,050) frames the file holds, not the 4,294,967,294 it announces.
TEST_P(ClaimedLengthTest, BuffersAreSizedFromTheDecodedData) {
  const ClaimCase c = GetParam();
  mqtest::TempDir dir;
  const auto frames = static_cast<std::int64_t>(c.rate / 2);
  const auto path = flacClaiming(dir, c.name, c.rate, c.channels, frames, kClaimed);
  ASSERT_LT(std::filesystem::file_size(path), 40000u);
  ASSERT_EQ(platform::AudioFile::openForReading(path)->length(),
            static_cast<std::int64_t>(kClaimed));

  // Half a second at 16 kHz, whatever the file's rate.
  constexpr std::uint32_t kReal = 8000;
  try {
    const auto buffer = AudioProcessor::loadAudio(path.string());
    EXPECT_LE(buffer->frameCapacity(), kReal + 16);
    EXPECT_LE(buffer->frameLength(), buffer->frameCapacity());
  } catch (const WhisperError &error) {
    // A decoder may report the missing data as a read error instead; either way no buffer is
    // sized from the claim.
    EXPECT_NE(std::string(error.what()).find("Failed to read audio file"), std::string::npos)
        << error.what();
  }
  const auto samples = AudioProcessor::loadAudioAsFloatArray(path.string());
  EXPECT_LE(samples.size(), kReal + 16);
  EXPECT_LE(samples.capacity(), std::size_t{60 * 16000});
}

INSTANTIATE_TEST_SUITE_P(Files, ClaimedLengthTest,
                         ::testing::Values(ClaimCase{"mono16k.flac", 16000, 1},
                                           ClaimCase{"stereo44k.flac", 44100, 2}),
                         [](const auto &info) {
                           std::string name = info.param.name;
                           return name.substr(0, name.find('.'));
                         });

struct RateCase {
  const char *name;
  AudioFileType type;
  std::uint32_t rate;
  bool refused;
};

class FileSampleRateTest : public ::testing::TestWithParam<RateCase> {};

TEST_P(FileSampleRateTest, RatesNoRealFileHasAreRefusedNamingTheFile) {
  const RateCase c = GetParam();
  mqtest::TempDir dir;
  const auto path = dir / c.name;
  // 4,000 frames written at 16 kHz, then relabelled: a file of a few KB.
  audiotest::writeFile(path, {c.type, 16000, 1}, 4000, audiotest::sine(440, 16000));
  setRate(path, c.type, c.rate);
  ASSERT_EQ(platform::AudioFile::openForReading(path)->fileFormat().sampleRate(), c.rate);

  if (!c.refused) {
    const auto samples = AudioProcessor::loadAudioAsFloatArray(path.string());
    EXPECT_NEAR(static_cast<double>(samples.size()), 4000.0 * 16000 / c.rate, 2);
    return;
  }
  const auto expectRefused = [&](const auto &load) {
    try {
      load();
      ADD_FAILURE() << "a file at " << c.rate << " Hz was loaded";
    } catch (const WhisperError &error) {
      EXPECT_EQ(error.errorCase(), WhisperError::Case::loadAudioFailed);
      const std::string text = error.what();
      EXPECT_NE(text.find(path.string()), std::string::npos) << text;
      EXPECT_NE(text.find(std::to_string(c.rate) + " Hz"), std::string::npos) << text;
    }
  };
  expectRefused([&] { AudioProcessor::loadAudio(path.string()); });
  expectRefused([&] { AudioProcessor::loadAudioAsFloatArray(path.string()); });
  const auto file = platform::AudioFile::openForReading(path);
  EXPECT_EQ(AudioProcessor::resampleAudio(*file, 16000, 1,
                                          divuvovize::AudioInputConfig::ChannelMode::sumChannels(),
                                          std::nullopt, 1323000),
            nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, FileSampleRateTest,
    ::testing::Values(RateCase{"aiff1Hz.aiff", AudioFileType::aiff, 1, true},
                      RateCase{"wav1Hz.wav", AudioFileType::wav, 1, true},
                      RateCase{"wav999Hz.wav", AudioFileType::wav, 999, true},
                      RateCase{"wav1000Hz.wav", AudioFileType::wav, 1000, false},
                      RateCase{"aiff768kHz.aiff", AudioFileType::aiff, 768000, false},
                      RateCase{"wav768001Hz.wav", AudioFileType::wav, 768001, true}),
    [](const auto &info) {
      std::string name = info.param.name;
      return name.substr(0, name.find('.'));
    });

} // namespace
