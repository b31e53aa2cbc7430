#include "DivuvovIze/Decoding/Model/WhisperMLModel.hpp"

#include "DeduveCore/Support/Logging.hpp"
#include "platform/ml/LoadMLModel.hpp"

#include <mutex>

namespace divuvovize {

void WhisperMLModel::loadModel(const std::filesystem::path &url,
                               platform::MLComputeUnits computeUnits, bool prewarmMode) {
  static std::once_flag reported;
  const platform::MLRunnerSetup &runner = platform::startMLRunner();
  std::call_once(reported, [&] {
    deduve::Logging::debug(
        "Model runner:", runner.threads, "threads, matrix kernels", runner.matrixCore,
        runner.matrixCoreChosenByRunner ? "(chosen for this CPU)" : "(the library's choice)");
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
