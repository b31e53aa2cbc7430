#include "DivuvovIze/Models/ModelComputeOptions.hpp"

namespace divuvovize {

ModelComputeOptions::ModelComputeOptions(
    platform::MLComputeUnits melCompute,
    std::optional<platform::MLComputeUnits> audioEncoderCompute,
    platform::MLComputeUnits textDecoderCompute)
    : melCompute(melCompute), audioEncoderCompute(audioEncoderCompute.value_or(
                                  platform::MLComputeUnits::cpuAndNeuralEngine)),
      textDecoderCompute(textDecoderCompute) {}

} // namespace divuvovize
