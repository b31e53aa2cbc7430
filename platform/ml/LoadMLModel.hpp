#pragma once

#include "platform/ml/MLModel.hpp"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

namespace platform {

// What the CPU model runner settled when it started.
struct MLRunnerSetup {
  std::size_t threads = 0;               // threads of the runner's pool and of the BLAS library
  std::string matrixCore;                // the kernel family the BLAS library runs
  bool matrixCoreChosenByRunner = false; // the runner reloaded the library with better kernels
};

// Starts the CPU model runner, once per process: sizes its thread pool (`threads`; 0 means one
// per hardware thread) and loads the BLAS library with as many threads, choosing its kernels
// for this CPU when the library's own detection falls back to older ones (a value the user set
// in OPENBLAS_CORETYPE is kept). It sets an environment variable for a moment, so a program's
// main calls it at start-up, before any thread starts. Later calls return the first result.
// Throws MLModelError when the BLAS library cannot be loaded.
const MLRunnerSetup &startMLRunner(std::size_t threads = 0);

// What the runner settled. When nothing started it, starts it from any thread with one thread
// per hardware thread and the BLAS library's own kernels, leaving the environment alone.
const MLRunnerSetup &mlRunnerSetup();

// Loads a model folder (<Name>.mlmodelc holding model.json and weights.safetensors) into the CPU
// runner: reads and checks the description, maps the weights and widens them to float32 once.
// The compute units are accepted and have no effect. A missing or malformed folder, an unknown
// kind, a missing tensor, a tensor of the wrong shape or a truncated weights file throws
// MLModelError whose message names the file and the tensor. Blocks: run it on a worker.
std::shared_ptr<MLModel> loadMLModel(const std::filesystem::path &folder,
                                     const MLModelConfiguration &configuration = {});

} // namespace platform
