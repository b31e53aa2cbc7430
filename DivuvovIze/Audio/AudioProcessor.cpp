#include "DivuvovIze/Audio/AudioProcessor.hpp"

#include "DivuvovIze/Audio/EnergyVAD.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

namespace divuvovize {

namespace {

// Sums in double so that a block of equal samples measures exactly their magnitude.
float rootMeanSquare(std::span<const float> samples) {
  if (samples.empty()) {
    return 0.0f;
  }
  double sum = 0;
  for (float sample : samples) {
    sum += static_cast<double>(sample) * sample;
  }
  return static_cast<float>(std::sqrt(sum / static_cast<double>(samples.size())));
}

} // namespace

std::optional<AudioProcessorOutputType> AudioProcessor::padOrTrim(std::span<const float> audioArray,
                                                                  int startAt, int toLength) {
  return padOrTrimAudio(audioArray, startAt, toLength, /*saveSegment=*/false);
}

const std::vector<float> &AudioLoadResult::get() const {
  if (const auto *error = std::get_if<std::exception_ptr>(&value)) {
    std::rethrow_exception(*error);
  }
  return std::get<std::vector<float>>(value);
}

bool AudioProcessor::isVoiceDetected(std::span<const float> energy, float nextBufferInSeconds,
                                     float silenceThreshold) {
  // Each entry stands for 0.1 s of audio. The quotient is clamped to the history, so a huge
  // or infinite window reads all of it and a negative or NaN one reads none.
  const float entries = nextBufferInSeconds / 0.1f;
  std::size_t q = 0;
  if (entries >= static_cast<float>(energy.size())) {
    q = energy.size();
  } else if (entries >= 1.0f) {
    q = static_cast<std::size_t>(entries);
  }
  const std::size_t c = std::min(q, energy.size());
  const auto recent = energy.subspan(energy.size() - c);
  // The newest 10 entries are left out once there are more than 20; at least the oldest 10
  // are kept.
  const std::size_t kept = std::min(c, c > 20 ? c - 10 : std::size_t{10});
  return std::any_of(recent.begin(), recent.begin() + static_cast<std::ptrdiff_t>(kept),
                     [&](float value) { return value > silenceThreshold; });
}

std::vector<IndexRange> AudioProcessor::calculateNonSilentChunks(std::span<const float> signal) {
  const EnergyVAD vad(16000, 1600, 0, 0.02f);
  return vad.calculateActiveChunks(signal);
}

std::vector<bool> AudioProcessor::calculateVoiceActivityInChunks(std::span<const float> signal,
                                                                 int chunkCount,
                                                                 int frameLengthSamples,
                                                                 int frameOverlapSamples,
                                                                 float energyThreshold) {
  std::vector<bool> activity(static_cast<std::size_t>(std::max(chunkCount, 0)), false);
  const auto count = static_cast<long long>(signal.size());
  const long long length = std::max(frameLengthSamples, 0);
  const long long overlap = std::max(frameOverlapSamples, 0);
  for (std::size_t i = 0; i < activity.size(); ++i) {
    // A frame starting past the end of the signal is empty, never a read beyond it.
    const long long start = std::min(static_cast<long long>(i) * length, count);
    const long long end = std::min(start + length + overlap, count);
    const float energy = rootMeanSquare(
        signal.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
    activity[i] = energy > energyThreshold;
  }
  return activity;
}

float AudioProcessor::calculateAverageEnergy(std::span<const float> signal) {
  return rootMeanSquare(signal);
}

AudioEnergy AudioProcessor::calculateEnergy(std::span<const float> signal) {
  if (signal.empty()) {
    return {};
  }
  AudioEnergy energy{rootMeanSquare(signal), 0.0f, std::abs(signal[0])};
  for (float sample : signal) {
    const float magnitude = std::abs(sample);
    energy.max = std::max(energy.max, magnitude);
    energy.min = std::min(energy.min, magnitude);
  }
  return energy;
}

float AudioProcessor::calculateRelativeEnergy(std::span<const float> signal,
                                              std::optional<float> reference) {
  const float rms = rootMeanSquare(signal);
  const float level = reference ? 20.0f * std::log10(std::max(*reference, 1e-8f)) : -60.0f;
  float relative = (20.0f * std::log10(rms) - level) / (0.0f - level);
  relative = std::min(relative, 1.0f);
  if (std::isnan(relative) || relative < 0.0f) {
    return 0.0f;
  }
  return relative;
}

} // namespace divuvovize
