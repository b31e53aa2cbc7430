#include "platform/ml/MLComputeUnits.hpp"

namespace platform {

std::string description(MLComputeUnits units) {
  switch (units) {
  case MLComputeUnits::cpuOnly:
    return "cpuOnly";
  case MLComputeUnits::cpuAndGPU:
    return "cpuAndGPU";
  case MLComputeUnits::all:
    return "all";
  case MLComputeUnits::cpuAndNeuralEngine:
    return "cpuAndNeuralEngine";
  }
  return "unknown";
}

std::string displayName(MLComputeUnits units) {
  switch (units) {
  case MLComputeUnits::cpuOnly:
    return "CPU";
  case MLComputeUnits::cpuAndGPU:
    return "GPU";
  case MLComputeUnits::all:
    return "All";
  case MLComputeUnits::cpuAndNeuralEngine:
    return "Neural Engine";
  }
  return "Unknown";
}

} // namespace platform
