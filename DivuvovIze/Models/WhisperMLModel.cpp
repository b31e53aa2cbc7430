#include "DivuvovIze/Models/WhisperMLModel.hpp"

#include "platform/ml/runner/RunnerModel.hpp"

namespace divuvovize {

void WhisperMLModel::loadModel(const std::filesystem::path &url,
                               platform::MLComputeUnits computeUnits, bool prewarmMode) {
  platform::MLModelConfiguration configuration;
  configuration.computeUnits = computeUnits;
  auto loaded = platform::loadMLModel(url, configuration);
  setModel(prewarmMode ? nullptr : std::move(loaded));
}

void WhisperMLModel::unloadModel() { setModel(nullptr); }

ModelState WhisperMLModel::modelState() const {
  return model() ? ModelState::loaded : ModelState::unloaded;
}

} // namespace divuvovize
