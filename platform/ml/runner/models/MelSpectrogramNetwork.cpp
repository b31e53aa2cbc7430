#include "platform/ml/runner/models/MelSpectrogramNetwork.hpp"

namespace platform::runner {

MelSpectrogramNetwork::MelSpectrogramNetwork(const ModelDimensions &dimensions,
                                             const SafeTensorsFile &weights) {
  const std::size_t bins = dimensions.fftLength / 2 + 1;
  filters_ = weights.readFloats("mel_filters", {dimensions.melCount, bins});
  plan_ = std::make_unique<LogMelPlan>(dimensions.windowSamples, dimensions.fftLength,
                                       dimensions.hopLength,
                                       MatrixView{filters_.data(), dimensions.melCount, bins});
}

} // namespace platform::runner
