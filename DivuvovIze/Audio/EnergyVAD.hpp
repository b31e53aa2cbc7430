#pragma once

#include "DivuvovIze/Audio/VoiceActivityDetector.hpp"

namespace divuvovize {

// Voice activity by frame energy: a frame is speech when the root mean square of its samples
// (frame plus overlap, cut at the end of the signal) is strictly above `energyThreshold`.
class EnergyVAD : public VoiceActivityDetector {
public:
  // Frame length and overlap in samples. Throws as VoiceActivityDetector does.
  explicit EnergyVAD(int sampleRate = 16000,        // samples per second
                     int frameLengthSamples = 1600, // 0.1 s
                     int frameOverlapSamples = 0,   // no overlap
                     float energyThreshold = 0.02f  // RMS, full scale 1.0
  );

  // Frame length and overlap in seconds, each converted to samples by truncation. Throws
  // std::invalid_argument when a product is not finite or outside the int range.
  static EnergyVAD withDurations(int sampleRate, float frameLength, float frameOverlap,
                                 float energyThreshold);

  float energyThreshold() const { return energyThreshold_; }

  std::vector<bool> voiceActivity(std::span<const float> waveform) const override;

private:
  float energyThreshold_;
};

} // namespace divuvovize
