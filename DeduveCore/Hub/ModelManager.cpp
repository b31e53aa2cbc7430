#include "DeduveCore/Hub/ModelManager.hpp"

#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

#include "DeduveCore/Support/DeduveCoreError.hpp"
#include "DeduveCore/Support/Logging.hpp"
#include "platform/system/CancellationError.hpp"
#include "platform/system/CancellationScope.hpp"
#include "platform/system/ThreadPool.hpp"

namespace deduve {

namespace fs = std::filesystem;

// A run still queued is dropped (no one is left to wait for it); a running one is waited for.
LoadModelsCoordinator::~LoadModelsCoordinator() { work_.close(); }

std::shared_ptr<LoadModelsCoordinator::Run>
LoadModelsCoordinator::join(const std::function<void()> &operation) {
  std::lock_guard lock(mutex_);
  if (inflight_) {
    return inflight_;
  }
  auto run = std::make_shared<Run>();
  inflight_ = run;
  work_.post(platform::ThreadPool::shared(), [this, run, operation] {
    std::exception_ptr failure;
    try {
      operation();
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard done(mutex_);
    run->finished = true;
    run->failure = failure;
    inflight_.reset();
    changed_.notify_all();
  });
  return run;
}

void LoadModelsCoordinator::run(const std::function<void()> &operation) {
  const std::shared_ptr<Run> run = join(operation);
  const std::optional<platform::CancellationToken> token = platform::Task::currentToken();
  platform::CancellationToken::Registration registration;
  if (token) {
    registration = token->onCancel([this] {
      std::lock_guard lock(mutex_);
      changed_.notify_all();
    });
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return run->finished || (token && token->isCancelled()); });
  if (!run->finished) {
    throw platform::CancellationError();
  }
  if (run->failure) {
    std::rethrow_exception(run->failure);
  }
}

ModelManager::ModelManager(std::shared_ptr<ModelLoader> loader, ModelDownloader downloader)
    : downloader_(std::move(downloader)), loader_(std::move(loader)) {}

void ModelManager::setModelState(ModelState state) {
  const ModelState old = modelState_.exchange(state);
  if (old == state) {
    return;
  }
  StateCallback callback = modelStateCallback();
  if (callback) {
    callback(old, state);
  }
}

ModelManager::StateCallback ModelManager::modelStateCallback() const {
  std::lock_guard lock(mutex_);
  return modelStateCallback_;
}

void ModelManager::setModelStateCallback(StateCallback callback) {
  std::lock_guard lock(mutex_);
  modelStateCallback_ = std::move(callback);
}

std::optional<fs::path> ModelManager::modelPath() const {
  std::lock_guard lock(mutex_);
  return modelPath_;
}

std::optional<fs::path> ModelManager::modelFolder() const {
  if (const auto folder = loader_->modelFolder()) {
    return fs::path(*folder);
  }
  return std::nullopt;
}

std::string ModelManager::loggerName() const {
  std::lock_guard lock(mutex_);
  if (!loggerName_) {
    const char *mangled = typeid(*this).name();
    int status = 0;
    char *demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : mangled;
    std::free(demangled);
    if (const size_t colon = name.rfind("::"); colon != std::string::npos) {
      name = name.substr(colon + 2);
    }
    loggerName_ = std::move(name);
  }
  return *loggerName_;
}

bool ModelManager::isAvailable() const {
  const ModelState state = modelState();
  return state == ModelState::loading || state == ModelState::loaded ||
         state == ModelState::downloaded;
}

void ModelManager::ensureModelsLoaded() {
  if (isLoaded()) {
    return;
  }
  coordinator_.run([this] {
    if (isLoaded()) {
      return;
    }
    downloadModels();
    loadModels();
  });
}

void ModelManager::downloadModels(const ModelDownloader::ProgressCallback &progressCallback) {
  const ModelState state = modelState();
  if (state != ModelState::unloaded) {
    Logging::debug(tag() + " Models already downloaded (state: " + std::string(description(state)) +
                   "), skipping download");
    return;
  }
  if (const auto folder = modelFolder()) {
    Logging::debug(tag() + " modelFolder is set, skipping download");
    {
      std::lock_guard lock(mutex_);
      modelPath_ = *folder;
    }
    setModelState(ModelState::downloaded);
    return;
  }
  Logging::info(tag() + " Starting download process...");
  setModelState(ModelState::downloading);
  std::string path;
  try {
    path = loader_->resolveModels(downloader_, progressCallback);
  } catch (const std::exception &error) {
    setModelState(ModelState::unloaded);
    Logging::error(tag() + " Failed to download models: " + error.what());
    throw;
  }
  {
    std::lock_guard lock(mutex_);
    modelPath_ = fs::path(path);
  }
  setModelState(ModelState::downloaded);
  Logging::info(tag() + " Models downloaded to " + path);
}

fs::path ModelManager::requireModelPath() const {
  if (auto path = modelPath()) {
    return *path;
  }
  if (auto folder = modelFolder()) {
    return *folder;
  }
  throw DeduveCoreError::invalidConfiguration(
      "No model path available. Call downloadModels() first, or provide modelFolder.");
}

void ModelManager::prewarmModels() {
  if (modelState() == ModelState::unloaded) {
    downloadModels();
  }
  const fs::path path = requireModelPath();
  switch (const ModelState state = modelState()) {
  case ModelState::prewarmed:
    Logging::debug(tag() + " Models already prewarmed, skipping");
    return;
  case ModelState::downloaded:
    setModelState(ModelState::prewarming);
    try {
      loader_->load(path.string(), /*prewarm=*/true);
    } catch (const std::exception &error) {
      setModelState(ModelState::unloaded);
      Logging::error(tag() + " Failed to prewarm models: " + error.what());
      throw;
    }
    setModelState(ModelState::prewarmed);
    Logging::info(tag() + " Models prewarmed successfully");
    return;
  default:
    throw DeduveCoreError::invalidConfiguration("Cannot prewarm in state: " +
                                                std::string(description(state)));
  }
}

void ModelManager::loadModels() {
  if (modelState() == ModelState::unloaded) {
    downloadModels();
  }
  const fs::path path = requireModelPath();
  switch (const ModelState state = modelState()) {
  case ModelState::loaded:
    Logging::debug(tag() + " Models already loaded, skipping");
    return;
  case ModelState::prewarmed:
  case ModelState::downloaded:
    setModelState(ModelState::loading);
    try {
      loader_->load(path.string(), /*prewarm=*/false);
    } catch (const std::exception &error) {
      setModelState(ModelState::unloaded);
      Logging::error(tag() + " Failed to load models: " + error.what());
      throw;
    }
    setModelState(ModelState::loaded);
    Logging::info(tag() + " Models loaded successfully");
    return;
  default:
    throw DeduveCoreError::invalidConfiguration("Cannot load in state: " +
                                                std::string(description(state)));
  }
}

void ModelManager::unloadModels() {
  const ModelState state = modelState();
  if (state != ModelState::loaded && state != ModelState::prewarmed) {
    return;
  }
  setModelState(ModelState::unloading);
  loader_->unload();
  setModelState(ModelState::unloaded);
}

} // namespace deduve
