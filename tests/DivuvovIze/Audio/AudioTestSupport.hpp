#pragma once

#include "DeduveCore/Support/Logging.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/PcmBuffer.hpp"
#include "tests/support/LogCapture.hpp"
#include "tests/support/SineFit.hpp"
#include "tests/support/Tones.hpp"

#include <cmath>
#include <functional>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

namespace audiotest {

using mqtest::LogCapture;

// Sample `frame` of channel `channel` of a test signal.
using Signal = std::function<float(std::uint32_t channel, std::int64_t frame)>;

inline Signal sine(double frequency, double rate, double amplitude = 0.5) {
  return [=](std::uint32_t, std::int64_t frame) {
    return static_cast<float>(mqtest::sineValue(frequency, rate, frame, amplitude));
  };
}

// Writes `frames` frames of `signal` to `path`, a block at a time.
inline void writeFile(const std::filesystem::path &path,
                      const platform::AudioFileSettings &settings, std::int64_t frames,
                      const Signal &signal) {
  auto file = platform::AudioFile::createForWriting(path, settings);
  constexpr std::uint32_t kBlock = 1 << 16;
  auto buffer = platform::PcmBuffer::make(file->processingFormat(), kBlock);
  for (std::int64_t first = 0; first < frames; first += kBlock) {
    const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(kBlock, frames - first));
    for (std::uint32_t c = 0; c < settings.channelCount; ++c) {
      float *samples = buffer->floatChannelData(c);
      for (std::uint32_t i = 0; i < n; ++i) {
        samples[i] = signal(c, first + i);
      }
    }
    buffer->setFrameLength(n);
    file->write(*buffer);
  }
  file->close();
}

using mqtest::fitSine;
using mqtest::SineFit;

} // namespace audiotest
