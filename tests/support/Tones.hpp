#pragma once

// Sine tones for audio fixtures: sample i of amplitude * sin(2 pi frequency i / rate), computed
// in double precision, so every test builds the same signal the same way.

#include "platform/audio/AudioFormat.hpp"
#include "platform/audio/PcmBuffer.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

namespace mqtest {

inline double sineValue(double frequency, double rate, std::int64_t i, double amplitude = 0.5) {
  return amplitude * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate);
}

// `count` samples from sample `first` on.
inline std::vector<float> sineSamples(double frequency, double rate, std::size_t count,
                                      double amplitude = 0.5, std::int64_t first = 0) {
  std::vector<float> samples(count);
  for (std::size_t i = 0; i < count; ++i) {
    samples[i] = static_cast<float>(
        sineValue(frequency, rate, first + static_cast<std::int64_t>(i), amplitude));
  }
  return samples;
}

// A planar float buffer at `rate` holding `frames` frames of the tone from frame `first` on in
// each of `channels` channels, channel c scaled by 1 / (c + 1).
inline std::shared_ptr<platform::PcmBuffer> sineBuffer(double frequency, double rate,
                                                       std::uint32_t channels, std::uint32_t frames,
                                                       double amplitude = 0.5,
                                                       std::int64_t first = 0) {
  auto buffer = platform::PcmBuffer::make(*platform::AudioFormat::standard(rate, channels), frames);
  for (std::uint32_t c = 0; c < channels; ++c) {
    for (std::uint32_t i = 0; i < frames; ++i) {
      buffer->floatChannelData(c)[i] =
          static_cast<float>(sineValue(frequency, rate, first + i, amplitude) / (c + 1));
    }
  }
  buffer->setFrameLength(frames);
  return buffer;
}

} // namespace mqtest
