#pragma once

#include <filesystem>
#include <memory>

#include "DivuvovIze/Models/ModelState.hpp"
#include "platform/ml/MLComputeUnits.hpp"
#include "platform/ml/MLModel.hpp"

namespace divuvovize {

// A component that wraps one compiled model (the feature extractor, the audio encoder, the
// text decoder). Conformers store the model; loading, prewarming and unloading are shared.
class WhisperMLModel {
public:
  virtual ~WhisperMLModel() = default;

  virtual std::shared_ptr<platform::MLModel> model() const = 0;
  virtual void setModel(std::shared_ptr<platform::MLModel> model) = 0;

  // Loads the compiled model folder at `url` with a fresh configuration using `computeUnits`.
  // On success the model is stored, or in `prewarmMode` dropped at once (model() becomes
  // null). A load error propagates and leaves model() as it was. Blocking: run on a worker.
  virtual void loadModel(const std::filesystem::path &url, platform::MLComputeUnits computeUnits,
                         bool prewarmMode);
  // Drops the model.
  virtual void unloadModel();
  // loaded with a model, unloaded without one.
  ModelState modelState() const;
};

} // namespace divuvovize
