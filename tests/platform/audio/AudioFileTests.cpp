#include "platform/audio/AudioFile.hpp"

#include "tests/support/TempDir.hpp"
#include "tests/support/Tones.hpp"

#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

namespace {

using platform::AudioFile;
using platform::AudioFileError;
using platform::AudioFileSettings;
using platform::AudioFileType;
using platform::AudioFormat;
using platform::PcmBuffer;

// Channel c holds 0.5 sin(2 pi 440 t) / (c + 1); `frames` frames at `rate`.
std::shared_ptr<PcmBuffer> tone(double rate, std::uint32_t channels, std::uint32_t frames) {
  return mqtest::sineBuffer(440, rate, channels, frames);
}

double channelRms(const PcmBuffer &buffer, std::uint32_t channel, std::uint32_t begin,
                  std::uint32_t end) {
  double sum = 0;
  for (std::uint32_t i = begin; i < end; ++i) {
    const double v = buffer.floatChannelData(channel)[i];
    sum += v * v;
  }
  return std::sqrt(sum / (end - begin));
}

struct FileCase {
  const char *name;
  AudioFileType type;
  double rate;
  bool lossless;
};

class AudioFileRoundTripTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(AudioFileRoundTripTest, ReadsBackWhatWasWritten) {
  const FileCase c = GetParam();
  mqtest::TempDir dir;
  const auto path = dir / (std::string("tone.") + c.name);
  const auto rate = static_cast<std::uint32_t>(c.rate);
  const auto written = tone(c.rate, 2, rate); // 1 s of stereo
  {
    auto file = AudioFile::createForWriting(path, {c.type, c.rate, 2});
    file->write(*written);
    file->close();
  }
  auto file = AudioFile::openForReading(path);
  EXPECT_EQ(file->processingFormat(), *AudioFormat::standard(c.rate, 2));
  EXPECT_EQ(file->fileFormat().sampleRate(), c.rate);
  EXPECT_EQ(file->fileFormat().channelCount(), 2u);
  auto read = PcmBuffer::make(file->processingFormat(), 2 * rate);
  file->read(*read, 2 * rate);
  EXPECT_EQ(file->framePosition(), read->frameLength());
  if (c.lossless) {
    EXPECT_EQ(file->length(), rate);
    ASSERT_EQ(read->frameLength(), rate);
    for (std::uint32_t ch = 0; ch < 2; ++ch) {
      for (std::uint32_t i = 0; i < rate; ++i) {
        ASSERT_NEAR(read->floatChannelData(ch)[i], written->floatChannelData(ch)[i], 1.0 / 32768)
            << "channel " << ch << " frame " << i;
      }
    }
    // Positioning lands on the exact frame.
    file->setFramePosition(rate / 2);
    auto part = PcmBuffer::make(file->processingFormat(), 10);
    file->read(*part, 10);
    ASSERT_EQ(part->frameLength(), 10u);
    EXPECT_NEAR(part->floatChannelData(1)[3], written->floatChannelData(1)[rate / 2 + 3],
                1.0 / 32768);
  } else {
    // Lossy codecs may add priming or padding frames; the tone keeps its level.
    EXPECT_NEAR(static_cast<double>(read->frameLength()), rate, rate * 0.1);
    const std::uint32_t end = std::min(read->frameLength(), rate) - rate / 10;
    for (std::uint32_t ch = 0; ch < 2; ++ch) {
      const double expected = 0.5 / std::sqrt(2.0) / (ch + 1);
      EXPECT_NEAR(channelRms(*read, ch, rate / 10, end), expected, expected * 0.12)
          << "channel " << ch;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Types, AudioFileRoundTripTest,
                         ::testing::Values(FileCase{"wav", AudioFileType::wav, 44100, true},
                                           FileCase{"aiff", AudioFileType::aiff, 22050, true},
                                           FileCase{"flac", AudioFileType::flac, 48000, true},
                                           FileCase{"ogg", AudioFileType::oggVorbis, 44100, false},
                                           FileCase{"opus", AudioFileType::oggOpus, 48000, false},
                                           FileCase{"mp3", AudioFileType::mp3, 44100, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(AudioFileTest, MissingCorruptAndUnsupportedFilesAreClearErrors) {
  mqtest::TempDir dir;
  const auto garbage = dir.write("noise.wav", std::string(4096, '\x5a'));
  const auto text = dir.write("notes.mp3", "these are not audio frames\n");
  const auto truncated = dir / "cut.flac";
  {
    auto file = AudioFile::createForWriting(truncated, {AudioFileType::flac, 16000, 1});
    file->write(*tone(16000, 1, 16000));
  }
  std::filesystem::resize_file(truncated, 40);
  for (const auto &path : {dir / "missing.wav", garbage, text, truncated}) {
    SCOPED_TRACE(path.string());
    try {
      AudioFile::openForReading(path);
      ADD_FAILURE() << "opened";
    } catch (const AudioFileError &error) {
      const std::string message = error.what();
      EXPECT_EQ(message.rfind("Failed to open audio file " + path.string() + ": ", 0), 0u)
          << message;
    }
  }
}

TEST(AudioFileTest, ReadsStopAtTheEndAndRefuseWrongBuffers) {
  mqtest::TempDir dir;
  const auto path = dir / "short.wav";
  {
    auto file = AudioFile::createForWriting(path, {AudioFileType::wav, 16000, 1});
    file->write(*tone(16000, 1, 1000));
  }
  auto file = AudioFile::openForReading(path);
  auto buffer = PcmBuffer::make(file->processingFormat(), 4000);
  file->setFramePosition(900);
  file->read(*buffer, 4000);
  EXPECT_EQ(buffer->frameLength(), 100u);
  file->read(*buffer, 4000);
  EXPECT_EQ(buffer->frameLength(), 0u);
  file->setFramePosition(5000);
  file->read(*buffer, 10);
  EXPECT_EQ(buffer->frameLength(), 0u);
  EXPECT_THROW(file->setFramePosition(-1), AudioFileError);
  EXPECT_THROW(file->read(*buffer, 4001), AudioFileError);
  auto stereo = PcmBuffer::make(*AudioFormat::standard(16000, 2), 10);
  EXPECT_THROW(file->read(*stereo, 10), AudioFileError);
  EXPECT_THROW(AudioFile::createForWriting(dir / "bad.opus", {AudioFileType::oggOpus, 44100, 1}),
               AudioFileError);
}

TEST(AudioFileTest, ReadsInterleavedWhenAsked) {
  mqtest::TempDir dir;
  const auto path = dir / "stereo.wav";
  const auto written = tone(8000, 2, 800);
  {
    auto file = AudioFile::createForWriting(
        path, {AudioFileType::wav, 8000, 2, platform::AudioFileSampleFormat::float32});
    file->write(*written);
  }
  auto file = AudioFile::openForReading(path, /*interleaved=*/true);
  EXPECT_TRUE(file->processingFormat().isInterleaved());
  auto buffer = PcmBuffer::make(file->processingFormat(), 800);
  file->read(*buffer, 800);
  ASSERT_EQ(buffer->frameLength(), 800u);
  EXPECT_EQ(buffer->floatChannelData(0)[2 * 123 + 1], written->floatChannelData(1)[123]);
}

} // namespace
