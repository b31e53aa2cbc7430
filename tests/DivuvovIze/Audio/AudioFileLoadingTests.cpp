#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/RunInBackground.hpp"
#include "platform/system/ThreadPool.hpp"
#include "tests/DivuvovIze/Audio/AudioTestSupport.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Tones.hpp"

#include <fstream>
#include <gtest/gtest.h>

namespace {

using divuvovize::AudioProcessor;
using divuvovize::WhisperError;
using platform::AudioFileSettings;
using platform::AudioFileType;
using ChannelMode = divuvovize::AudioInputConfig::ChannelMode;

// Left: 1 kHz at 0.5; right: 3 kHz at 0.25; any other channel silent.
float twoTones(double rate, std::uint32_t channel, std::int64_t frame) {
  if (channel == 0) {
    return static_cast<float>(mqtest::sineValue(1000, rate, frame, 0.5));
  }
  if (channel == 1) {
    return static_cast<float>(mqtest::sineValue(3000, rate, frame, 0.25));
  }
  return 0.0f;
}

std::filesystem::path writeTones(const mqtest::TempDir &dir, const std::string &name,
                                 AudioFileSettings settings, double seconds) {
  const auto path = dir / name;
  const double rate = settings.sampleRate;
  audiotest::writeFile(path, settings, static_cast<std::int64_t>(seconds * rate),
                       [rate](std::uint32_t c, std::int64_t f) { return twoTones(rate, c, f); });
  return path;
}

struct LoadCase {
  const char *name;
  AudioFileSettings settings;
  ChannelMode mode;
  double frequency; // the tone that must come out
  double amplitude; // at this level
  bool lossless;    // exact length and -60 dB residual
};

class LoadAudioTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadAudioTest, GivesSixteenKilohertzMonoOfTheChosenChannels) {
  const LoadCase c = GetParam();
  mqtest::TempDir dir;
  const auto path = writeTones(dir, c.name, c.settings, 10);
  const auto samples = AudioProcessor::loadAudioAsFloatArray(path.string(), c.mode);
  if (c.lossless) {
    EXPECT_EQ(samples.size(), 160000u);
  } else {
    EXPECT_NEAR(static_cast<double>(samples.size()), 160000, 1600);
  }
  ASSERT_GT(samples.size(), 150000u);
  const auto fit = audiotest::fitSine(samples, 16000, c.frequency, 1600, 148000);
  EXPECT_NEAR(20 * std::log10(fit.amplitude / c.amplitude), 0.0, c.lossless ? 0.1 : 1.0);
  if (c.lossless) {
    EXPECT_LT(std::abs(fit.phaseError), 2e-3);
    EXPECT_LT(fit.residualDb, -60);
  }
}

// Summing both tones rescales to the louder channel's peak (0.5): the sum of 0.5 and 0.25
// tones peaks near 0.75, so the 1 kHz part comes out at about 0.5 x 0.5 / 0.75.
INSTANTIATE_TEST_SUITE_P(Files, LoadAudioTest,
                         ::testing::Values(LoadCase{"wav44k_left.wav",
                                                    {AudioFileType::wav, 44100, 2},
                                                    ChannelMode::specificChannel(0),
                                                    1000,
                                                    0.5,
                                                    true},
                                           LoadCase{"wav44k_right.wav",
                                                    {AudioFileType::wav, 44100, 2},
                                                    ChannelMode::specificChannel(1),
                                                    3000,
                                                    0.25,
                                                    true},
                                           LoadCase{"flac48k_right.flac",
                                                    {AudioFileType::flac, 48000, 2},
                                                    ChannelMode::sumChannels(std::vector<int>{1}),
                                                    3000,
                                                    0.25,
                                                    true},
                                           LoadCase{"wav16k_mono.wav",
                                                    {AudioFileType::wav, 16000, 1},
                                                    ChannelMode::sumChannels(),
                                                    1000,
                                                    0.5,
                                                    true},
                                           LoadCase{"ogg44k_left.ogg",
                                                    {AudioFileType::oggVorbis, 44100, 2},
                                                    ChannelMode::specificChannel(0),
                                                    1000,
                                                    0.5,
                                                    false}),
                         [](const auto &info) {
                           std::string name = info.param.name;
                           return name.substr(0, name.find('.'));
                         });

TEST(LoadAudioFileTest, TenSecondsOfStereoAreReadInOneChunk) {
  mqtest::TempDir dir;
  const auto path = writeTones(dir, "stereo.wav", {AudioFileType::wav, 44100, 2}, 10);
  audiotest::LogCapture logs;
  const auto buffer = AudioProcessor::loadAudio(path.string());
  EXPECT_EQ(buffer->format(), *platform::AudioFormat::standard(16000, 1));
  EXPECT_EQ(buffer->frameCapacity(), 160000u);
  EXPECT_EQ(buffer->frameLength(), 160000u);
  EXPECT_EQ(
      logs.startingWith("Resampling "),
      (std::vector<std::string>{"Resampling 10.00 seconds of audio", "Resampling 0.00s - 10.00s"}));
  EXPECT_EQ(logs.startingWith("Audio "),
            (std::vector<std::string>{"Audio source details - Sample Rate: 44100.0 Hz, Channel "
                                      "Count: 2, Frame Length: 441000, Duration: 10.0s",
                                      "Audio buffer details - Sample Rate: 16000.0 Hz, Channel "
                                      "Count: 1, Frame Length: 160000, Duration: 10.0s"}));
  EXPECT_EQ(logs.startingWith("After loadAudio function - Memory usage: ").size(), 1u);

  // A smaller read limit reads more pieces into one seamless signal.
  logs.lines();
  const auto pieces = AudioProcessor::loadAudio(path.string(), ChannelMode::specificChannel(0), 0.0,
                                                std::nullopt, 100000);
  ASSERT_EQ(pieces->frameLength(), 160000u);
  const auto samples = AudioProcessor::convertBufferToArray(*pieces);
  const auto fit = audiotest::fitSine(samples, 16000, 1000, 1600, 158400);
  EXPECT_LT(fit.residualDb, -60);
  EXPECT_EQ(logs.startingWith("Resampling 2.27s - 4.54s").size(), 1u);
}

TEST(LoadAudioFileTest, SixteenKilohertzMonoIsReadWithoutConversion) {
  mqtest::TempDir dir;
  const auto path = dir / "mono.wav";
  audiotest::writeFile(path,
                       {AudioFileType::wav, 16000, 1, platform::AudioFileSampleFormat::float32},
                       32000, [](std::uint32_t, std::int64_t f) { return f * 1e-5f; });
  audiotest::LogCapture logs;
  const auto buffer =
      AudioProcessor::loadAudio(path.string(), ChannelMode::sumChannels(), 0.5, 1.25);
  EXPECT_TRUE(logs.startingWith("Resampling ").empty());
  ASSERT_EQ(buffer->frameLength(), 12000u);
  EXPECT_EQ(buffer->floatChannelData(0)[0], 8000 * 1e-5f);
  EXPECT_EQ(buffer->floatChannelData(0)[11999], 19999 * 1e-5f);
}

TEST(LoadAudioFileTest, TimeRangesAreClampedToTheFile) {
  mqtest::TempDir dir;
  const auto path = writeTones(dir, "range.wav", {AudioFileType::wav, 48000, 2}, 2);
  struct Case {
    const char *name;
    std::optional<double> start;
    std::optional<double> end;
    std::size_t samples;
  };
  const Case cases[] = {
      {"whole", 0.0, std::nullopt, 32000},
      {"no start", std::nullopt, std::nullopt, 32000},
      {"middle", 0.5, 1.5, 16000},
      {"end past the file", 1.0, 60.0, 16000},
      {"start before the file", -3.0, 0.5, 8000},
      {"start after the end of the file", 5.0, std::nullopt, 0},
      {"start after the end time", 1.5, 0.5, 0},
      {"empty range", 1.0, 1.0, 0},
      {"end at 1e300 s", 1.0, 1e300, 16000},
      {"start at 1e300 s", 1e300, std::nullopt, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const auto buffer =
        AudioProcessor::loadAudio(path.string(), ChannelMode::sumChannels(), c.start, c.end);
    EXPECT_EQ(buffer->frameLength(), c.samples);
    EXPECT_EQ(AudioProcessor::loadAudioAsFloatArray(path.string(), ChannelMode::sumChannels(),
                                                    c.start, c.end)
                  .size(),
              c.samples);
  }
  EXPECT_THROW(AudioProcessor::loadAudio(path.string(), ChannelMode::sumChannels(),
                                         std::numeric_limits<double>::quiet_NaN()),
               WhisperError);
}

TEST(LoadAudioFileTest, MissingAndBrokenFilesFailClearly) {
  mqtest::TempDir dir;
  const std::string missing = (dir / "nowhere.wav").string();
  for (const auto &load : std::vector<std::function<void()>>{
           [&] { AudioProcessor::loadAudio(missing); },
           [&] { AudioProcessor::loadAudioAsFloatArray(missing); },
           [&] { divuvovize::AudioProcessing::loadAudioAsync(missing); }}) {
    try {
      load();
      ADD_FAILURE() << "loaded";
    } catch (const WhisperError &error) {
      EXPECT_EQ(error.errorCase(), WhisperError::Case::loadAudioFailed);
      EXPECT_EQ(error.message(), "Resource path does not exist " + missing);
    }
  }
  const auto corrupt = dir.write("corrupt.wav", "RIFF\x10\0\0\0WAVEfmt garbage that ends early");
  try {
    AudioProcessor::loadAudioAsFloatArray(corrupt.string());
    ADD_FAILURE() << "loaded";
  } catch (const platform::AudioFileError &error) {
    EXPECT_NE(std::string(error.what()).find(corrupt.string()), std::string::npos);
  }
}

TEST(LoadAudioFileTest, SeveralFilesLoadConcurrentlyInPathOrder) {
  mqtest::TempDir dir;
  const auto first = writeTones(dir, "a.wav", {AudioFileType::wav, 16000, 1}, 1);
  const auto third = writeTones(dir, "c.flac", {AudioFileType::flac, 44100, 2}, 2);
  const std::vector<std::string> paths{first.string(), (dir / "b.wav").string(), third.string(),
                                       first.string()};
  const auto results = AudioProcessor::loadAudio(paths);
  ASSERT_EQ(results.size(), 4u);
  EXPECT_TRUE(results[0].succeeded());
  EXPECT_EQ(results[0].get().size(), 16000u);
  ASSERT_FALSE(results[1].succeeded());
  EXPECT_THROW(results[1].get(), WhisperError);
  EXPECT_EQ(results[2].get().size(), 32000u);
  EXPECT_EQ(results[3].get(), results[0].get());
  EXPECT_TRUE(AudioProcessor::loadAudio(std::vector<std::string>{}).empty());

  // Loads run on the shared pool; a caller that is itself pool work, waiting for more files
  // than the pool has threads, still gets them all.
  const std::vector<std::string> many(2 * platform::ThreadPool::shared().threadCount() + 1,
                                      first.string());
  auto nested = platform::runOnPool(platform::ThreadPool::shared(),
                                    [&] { return AudioProcessor::loadAudio(many); });
  const auto nestedResults = nested.get();
  ASSERT_EQ(nestedResults.size(), many.size());
  for (const auto &result : nestedResults) {
    EXPECT_EQ(result.get(), results[0].get());
  }
}

TEST(LoadAudioFileTest, ALongFileIsReadInTenMinutePieces) {
  // 25 minutes of a 50 Hz tone at 8 kHz mono: small to write, yet every piece is resampled.
  mqtest::TempDir dir;
  const auto path = dir / "long.wav";
  const auto tone = audiotest::sine(50, 8000);
  audiotest::writeFile(path, {AudioFileType::wav, 8000, 1}, 25 * 60 * 8000, tone);
  audiotest::LogCapture logs;
  const auto samples = AudioProcessor::loadAudioAsFloatArray(path.string());
  EXPECT_EQ(samples.size(), 24000000u);
  EXPECT_EQ(logs.startingWith("Audio buffer details"),
            (std::vector<std::string>{
                "Audio buffer details - Sample Rate: 16000.0 Hz, Channel Count: 1, Frame Length: "
                "9600000, Duration: 600.0s",
                "Audio buffer details - Sample Rate: 16000.0 Hz, Channel Count: 1, Frame Length: "
                "9600000, Duration: 600.0s",
                "Audio buffer details - Sample Rate: 16000.0 Hz, Channel Count: 1, Frame Length: "
                "4800000, Duration: 300.0s"}));
  // Away from the piece edges the joined samples are the tone at its place in time.
  const auto expected = audiotest::sine(50, 16000);
  for (double seconds : {1.0, 599.5, 600.5, 1199.5, 1200.5, 1499.0}) {
    SCOPED_TRACE(seconds);
    const auto at = static_cast<std::int64_t>(seconds * 16000);
    for (std::int64_t i = at; i < at + 320; i += 7) {
      ASSERT_NEAR(samples[static_cast<std::size_t>(i)], expected(0, i), 2e-3) << "sample " << i;
    }
  }
}

// Writes one second of a tone as FLAC, then overwrites the stream's announced length (the 36-bit
// sample count of its first metadata block) with `announced`.
std::filesystem::path writeFlacAnnouncing(const mqtest::TempDir &dir, double rate,
                                          std::uint64_t announced) {
  const auto path = dir.path() / (std::to_string(static_cast<int>(rate)) + "-" +
                                  std::to_string(announced) + ".flac");
  audiotest::writeFile(path, {AudioFileType::flac, rate, 1}, static_cast<std::int64_t>(rate),
                       audiotest::sine(440, rate));
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  char high = 0;
  file.seekg(21);
  file.read(&high, 1);
  const char patched[5] = {static_cast<char>((high & 0xf0) | ((announced >> 32) & 0x0f)),
                           static_cast<char>(announced >> 24), static_cast<char>(announced >> 16),
                           static_cast<char>(announced >> 8), static_cast<char>(announced)};
  file.seekp(21);
  file.write(patched, 5);
  return path;
}

TEST(LoadAudioFileTest, AFileAnnouncingMoreThanItHoldsGivesWhatItHolds) {
  mqtest::TempDir dir;
  for (double rate : {16000.0, 44100.0}) {
    SCOPED_TRACE(rate);
    // Over 74 hours announced; one second there.
    const auto path = writeFlacAnnouncing(dir, rate, 0xffffffffull);
    ASSERT_EQ(platform::AudioFile::openForReading(path)->length(), 0xffffffffll);
    const auto samples = AudioProcessor::loadAudioAsFloatArray(path.string());
    EXPECT_NEAR(static_cast<double>(samples.size()), 16000.0, 1.0);
    const auto fit = audiotest::fitSine(samples, 16000, 440, 800, samples.size() - 800);
    EXPECT_NEAR(fit.amplitude, 0.5, 0.01);
  }
}

// A stream header may leave the frame count at 0, "unknown": the file is read to its end, and
// times far past it (which overflow when turned into frames late) give empty ranges.
TEST(LoadAudioFileTest, AFileOfUnknownLengthIsReadToItsEnd) {
  mqtest::TempDir dir;
  for (double rate : {16000.0, 44100.0}) {
    SCOPED_TRACE(rate);
    const auto path = writeFlacAnnouncing(dir, rate, 0);
    const auto samples = AudioProcessor::loadAudioAsFloatArray(path.string());
    EXPECT_NEAR(static_cast<double>(samples.size()), 16000.0, 1.0);
    struct Case {
      const char *name;
      std::optional<double> start;
      std::optional<double> end;
      double samples;
    };
    const Case cases[] = {
        {"whole", std::nullopt, std::nullopt, 16000},
        {"from the middle", 0.5, std::nullopt, 8000},
        {"to the far future", 0.5, 1e300, 8000},
        {"a start past the data", 5.0, std::nullopt, 0},
        {"a start past the frame counter", 6e14, std::nullopt, 0},
        {"a start of 1e300 s", 1e300, 1e300, 0},
    };
    for (const auto &c : cases) {
      SCOPED_TRACE(c.name);
      const auto buffer =
          AudioProcessor::loadAudio(path.string(), ChannelMode::sumChannels(), c.start, c.end);
      EXPECT_NEAR(static_cast<double>(buffer->frameLength()), c.samples, 1.0);
      EXPECT_NEAR(static_cast<double>(AudioProcessor::loadAudioAsFloatArray(
                                          path.string(), ChannelMode::sumChannels(), c.start, c.end)
                                          .size()),
                  c.samples, 1.0);
    }
  }
}

TEST(LoadAudioFileTest, AFileAnnouncingMoreThanThirtyTwoBitsOfFramesIsRefused) {
  mqtest::TempDir dir;
  const auto path = writeFlacAnnouncing(dir, 16000, 0xfffffffffull);
  try {
    AudioProcessor::loadAudioAsFloatArray(path.string());
    ADD_FAILURE() << "loaded";
  } catch (const WhisperError &error) {
    EXPECT_EQ(error.errorCase(), WhisperError::Case::loadAudioFailed);
    EXPECT_NE(error.message().find(path.string()), std::string::npos) << error.message();
    EXPECT_NE(error.message().find("too long"), std::string::npos) << error.message();
  }
}

} // namespace
