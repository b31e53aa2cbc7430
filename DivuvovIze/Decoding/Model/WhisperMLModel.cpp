#include "DivuvovIze/Decoding/Model/WhisperMLModel.hpp"

#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "platform/ml/LoadMLModel.hpp"

#include <mutex>
#include <string>

namespace divuvovize {

void WhisperMLModel::loadModel(const std::filesystem::path &url,
                               platform::MLComputeUnits computeUnits, bool prewarmMode) {
  static std::once_flag reported;
  const platform::MLRunnerSetup &runner = platform::mlRunnerSetup();
  std::call_once(reported, [&] {
    modelslog::debug(
        "Model runner: " + std::to_string(runner.threads) + " threads, matrix kernels " +
        runner.matrixCore +
        (runner.matrixCoreChosenByRunner ? " (chosen for this CPU)" : " (the library's choice)"));
  });
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
