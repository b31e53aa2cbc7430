#include "platform/ml/LoadMLModel.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/AudioEncoderModel.hpp"
#include "platform/ml/runner/MelSpectrogramModel.hpp"
#include "platform/ml/runner/TextDecoderModel.hpp"
#include "platform/ml/runner/kernels/Blas.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"

#include <mutex>

namespace platform {

namespace {

const MLRunnerSetup &startRunner(std::size_t threads, runner::BlasKernels kernels) {
  static std::mutex mutex;
  static std::unique_ptr<MLRunnerSetup> setup;
  std::lock_guard lock(mutex);
  if (!setup) {
    // The pool is sized first so the BLAS library gets the same count.
    runner::setParallelThreadCount(threads);
    const std::size_t count = runner::parallelThreadCount();
    const runner::BlasSetup &blas = runner::loadBlas(count, kernels);
    setup =
        std::make_unique<MLRunnerSetup>(MLRunnerSetup{count, blas.core, blas.coreChosenByRunner});
  }
  return *setup;
}

} // namespace

const MLRunnerSetup &startMLRunner(std::size_t threads) {
  return startRunner(threads, runner::BlasKernels::bestForThisCpu);
}

const MLRunnerSetup &mlRunnerSetup() { return startRunner(0, runner::BlasKernels::libraryChoice); }

std::shared_ptr<MLModel> loadMLModel(const std::filesystem::path &folder,
                                     const MLModelConfiguration & /*configuration*/) {
  mlRunnerSetup();
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    throw MLModelError(MLModelError::Code::io, folder.string() + ": no such model folder");
  }
  runner::ModelConfig config = runner::ModelConfig::load(folder / "model.json");
  switch (config.kind) {
  case runner::ModelKind::mel:
    return std::make_shared<runner::MelSpectrogramModel>(folder, std::move(config));
  case runner::ModelKind::audioEncoder:
    return std::make_shared<runner::AudioEncoderModel>(folder, std::move(config));
  case runner::ModelKind::textDecoder:
    return std::make_shared<runner::TextDecoderModel>(folder, std::move(config));
  }
  throw MLModelError(MLModelError::Code::invalidModel, folder.string() + ": unknown model kind");
}

} // namespace platform
