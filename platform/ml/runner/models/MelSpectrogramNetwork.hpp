#pragma once

#include "platform/ml/runner/formats/ModelConfig.hpp"
#include "platform/ml/runner/formats/SafeTensorsFile.hpp"
#include "platform/ml/runner/ops/LogMel.hpp"

#include <memory>
#include <vector>

namespace platform::runner {

// The log-mel front end with its filterbank ("mel_filters", [n_mels, n_fft / 2 + 1]).
// Immutable after construction; run() is reentrant with distinct scratch.
class MelSpectrogramNetwork {
public:
  MelSpectrogramNetwork(const ModelDimensions &dimensions, const SafeTensorsFile &weights);

  std::size_t scratchSize() const { return plan_->scratchSize(); }
  // audio: n_samples floats; out: [n_mels x frames] channel-major.
  void run(const float *audio, float *scratch, float *out) const {
    plan_->run(audio, scratch, out);
  }

private:
  std::vector<float> filters_;
  std::unique_ptr<LogMelPlan> plan_;
};

} // namespace platform::runner
