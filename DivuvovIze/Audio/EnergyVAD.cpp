#include "DivuvovIze/Audio/EnergyVAD.hpp"

#include "DivuvovIze/Audio/AudioProcessor.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace divuvovize {

namespace {

int samplesOf(float seconds, int sampleRate, const char *what) {
  const float product = seconds * static_cast<float>(sampleRate);
  if (!std::isfinite(product) || product >= 2147483648.0f || product <= -2147483649.0f) {
    throw std::invalid_argument(std::string("EnergyVAD: ") + what +
                                " does not give a sample count in range");
  }
  return static_cast<int>(product);
}

} // namespace

EnergyVAD::EnergyVAD(int sampleRate, int frameLengthSamples, int frameOverlapSamples,
                     float energyThreshold)
    : VoiceActivityDetector(sampleRate, frameLengthSamples, frameOverlapSamples),
      energyThreshold_(energyThreshold) {}

EnergyVAD EnergyVAD::withDurations(int sampleRate, float frameLength, float frameOverlap,
                                   float energyThreshold) {
  return EnergyVAD(sampleRate, samplesOf(frameLength, sampleRate, "frame length"),
                   samplesOf(frameOverlap, sampleRate, "frame overlap"), energyThreshold);
}

std::vector<bool> EnergyVAD::voiceActivity(std::span<const float> waveform) const {
  const auto frameCount = static_cast<int>(
      std::ceil(static_cast<double>(waveform.size()) / static_cast<double>(frameLengthSamples())));
  return AudioProcessor::calculateVoiceActivityInChunks(waveform, frameCount, frameLengthSamples(),
                                                        frameOverlapSamples(), energyThreshold_);
}

} // namespace divuvovize
