#pragma once

#include "platform/ml/MLComputeUnits.hpp"

#include <filesystem>

namespace deduve {

// A component that owns one loadable model. Loading blocks the caller (run it on a worker
// thread); errors of the load propagate.
class MLModelLoading {
public:
  virtual ~MLModelLoading() = default;

  // Loads the model at `url` for `computeUnits`. In `prewarmMode` the model is loaded only to
  // have it compiled and cached for this device, then released.
  virtual void loadModel(const std::filesystem::path &url, platform::MLComputeUnits computeUnits,
                         bool prewarmMode) = 0;
  // Releases the model.
  virtual void unloadModel() = 0;

  // Loads for use: loadModel(url, computeUnits, false).
  void loadModel(const std::filesystem::path &url, platform::MLComputeUnits computeUnits) {
    loadModel(url, computeUnits, false);
  }
};

} // namespace deduve
