#pragma once

#include "DeduveCore/Support/MLModelLoading.hpp"
#include "DivuvovIze/Models/ModelState.hpp"
#include "platform/ml/MLComputeUnits.hpp"
#include "platform/ml/MLModel.hpp"

#include <filesystem>
#include <memory>

namespace divuvovize {

// A component that wraps one compiled model (the feature extractor, the audio encoder, the
// text decoder). Conformers store the model; loading, prewarming and unloading are shared.
class WhisperMLModel : public deduve::MLModelLoading {
public:
  virtual ~WhisperMLModel() = default;

  virtual std::shared_ptr<platform::MLModel> model() const = 0;
  virtual void setModel(std::shared_ptr<platform::MLModel> model) = 0;

  // Loads the compiled model folder at `url` with a fresh configuration using `computeUnits`.
  // On success the model is stored, or in `prewarmMode` dropped at once (model() becomes
  // null). A load error propagates and leaves model() as it was. Blocking: run on a worker.
  void loadModel(const std::filesystem::path &url, platform::MLComputeUnits computeUnits,
                 bool prewarmMode) override;
  using deduve::MLModelLoading::loadModel;
  // Drops the model.
  void unloadModel() override;
  // loaded with a model, unloaded without one.
  ModelState modelState() const;
};

} // namespace divuvovize
