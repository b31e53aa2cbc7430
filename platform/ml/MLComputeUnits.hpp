#pragma once

#include <string>

namespace platform {

// Which processors a model may run on. On this platform every choice runs on the CPU; the
// value is kept so configurations and logs read as they do elsewhere.
enum class MLComputeUnits : int { cpuOnly = 0, cpuAndGPU = 1, all = 2, cpuAndNeuralEngine = 3 };

// "cpuOnly", "cpuAndGPU", "all", "cpuAndNeuralEngine"; "unknown" for any other value.
std::string description(MLComputeUnits units);
// "CPU", "GPU", "All", "Neural Engine"; "Unknown" for any other value.
std::string displayName(MLComputeUnits units);

} // namespace platform
