#pragma once

#include "DeduveCore/Support/Logging.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/PcmBuffer.hpp"

#include <cmath>
#include <functional>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

namespace audiotest {

// Collects every log line (debug level and up) while alive.
class LogCapture {
public:
  LogCapture() {
    deduve::Logging::updateLogLevel(deduve::Logging::LogLevel::debug);
    deduve::Logging::updateCallback([this](const std::string &line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~LogCapture() {
    deduve::Logging::updateCallback(nullptr);
    deduve::Logging::updateLogLevel(deduve::Logging::LogLevel::none);
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  std::vector<std::string> startingWith(const std::string &prefix) const {
    std::vector<std::string> found;
    for (const auto &line : lines()) {
      if (line.rfind(prefix, 0) == 0) {
        found.push_back(line);
      }
    }
    return found;
  }

private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Sample `frame` of channel `channel` of a test signal.
using Signal = std::function<float(std::uint32_t channel, std::int64_t frame)>;

inline Signal sine(double frequency, double rate, double amplitude = 0.5) {
  return [=](std::uint32_t, std::int64_t frame) {
    return static_cast<float>(amplitude *
                              std::sin(2 * std::numbers::pi * frequency * frame / rate));
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

struct SineFit {
  double amplitude;
  double phaseError; // radians against sin(2 pi f t)
  double residualDb; // left after removing the fitted sine, relative to it
};

// Least-squares fit of a sine of known frequency over [begin, end) of `x` sampled at `rate`.
inline SineFit fitSine(const std::vector<float> &x, double rate, double frequency,
                       std::size_t begin, std::size_t end) {
  double sinSum = 0, cosSum = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const double w = 2 * std::numbers::pi * frequency * static_cast<double>(i) / rate;
    sinSum += x[i] * std::sin(w);
    cosSum += x[i] * std::cos(w);
  }
  const double n = static_cast<double>(end - begin);
  const double b = 2 * sinSum / n, a = 2 * cosSum / n;
  double residual = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const double w = 2 * std::numbers::pi * frequency * static_cast<double>(i) / rate;
    const double r = x[i] - (b * std::sin(w) + a * std::cos(w));
    residual += r * r;
  }
  const double amplitude = std::hypot(a, b);
  return {amplitude, std::atan2(a, b),
          20 * std::log10(std::sqrt(residual / n) / (amplitude / std::sqrt(2.0)))};
}

} // namespace audiotest
