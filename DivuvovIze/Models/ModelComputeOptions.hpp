#pragma once

#include <optional>

#include "platform/ml/MLComputeUnits.hpp"

namespace divuvovize {

// The compute units of the three models.
struct ModelComputeOptions {
  // An absent audioEncoderCompute becomes cpuAndNeuralEngine: this platform counts as an
  // operating system recent enough for it.
  explicit ModelComputeOptions(
      platform::MLComputeUnits melCompute = platform::MLComputeUnits::cpuAndGPU,
      std::optional<platform::MLComputeUnits> audioEncoderCompute = std::nullopt,
      platform::MLComputeUnits textDecoderCompute = platform::MLComputeUnits::cpuAndNeuralEngine);

  platform::MLComputeUnits melCompute;          // mel-spectrogram model
  platform::MLComputeUnits audioEncoderCompute; // audio encoder
  platform::MLComputeUnits textDecoderCompute;  // text decoder

  bool operator==(const ModelComputeOptions &) const = default;
};

} // namespace divuvovize
