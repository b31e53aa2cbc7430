#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DeduveCore/Hub/ModelDownloader.hpp"
#include "DeduveCore/Hub/ModelState.hpp"
#include "platform/system/RunInBackground.hpp"

namespace deduve {

// What a ModelManager drives: finds, loads and unloads one set of models. Calls block.
class ModelLoader {
public:
  virtual ~ModelLoader() = default;
  // A local folder that already holds the models, when the application configured one.
  virtual std::optional<std::string> modelFolder() const = 0;
  // Makes the models available on disk (typically through `downloader`) and returns the folder.
  virtual std::string resolveModels(const ModelDownloader &downloader,
                                    const ModelDownloader::ProgressCallback &progressCallback) = 0;
  // Loads the models from `folder`; `prewarm` is true while the manager prewarms them.
  virtual void load(const std::string &folder, bool prewarm) = 0;
  virtual void unload() noexcept = 0;
};

// Single flight: callers that arrive while an operation runs wait for that same run and get
// its outcome (its exception included) instead of starting another. The run is a task of its
// own on the shared pool, so no caller's cancellation reaches it: a caller whose task is
// cancelled stops waiting with CancellationError while the run goes on for the others.
// Destroying the coordinator waits for a run that has started and drops one still queued.
// Thread-safe.
class LoadModelsCoordinator {
public:
  LoadModelsCoordinator() = default;
  ~LoadModelsCoordinator();
  LoadModelsCoordinator(const LoadModelsCoordinator &) = delete;
  LoadModelsCoordinator &operator=(const LoadModelsCoordinator &) = delete;

  void run(const std::function<void()> &operation);

private:
  struct Run {
    bool finished = false;
    std::exception_ptr failure;
  };
  // Starts a run of `operation` unless one is in flight; returns the run to wait for.
  std::shared_ptr<Run> join(const std::function<void()> &operation);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::shared_ptr<Run> inflight_;
  // Last: closed first, before the fields its work uses go.
  platform::BackgroundScope work_;
};

// Takes a set of models from absent to loaded through a ModelLoader and reports every state
// change to `modelStateCallback` as (old, new), synchronously on the thread making the change.
// downloadModels, prewarmModels, loadModels and unloadModels must not overlap on one manager;
// ensureModelsLoaded may be called from several threads at once; its download and load run
// on the shared pool, and destroying the manager waits for them once started (a subclass that
// overrides them must not be destroyed while they run).
class ModelManager {
public:
  using StateCallback = std::function<void(ModelState oldState, ModelState newState)>;

  ModelManager(std::shared_ptr<ModelLoader> loader, ModelDownloader downloader);
  virtual ~ModelManager() = default;
  ModelManager(const ModelManager &) = delete;
  ModelManager &operator=(const ModelManager &) = delete;

  ModelState modelState() const { return modelState_.load(); }
  // Calls the callback only when `state` differs from the current state.
  void setModelState(ModelState state);
  StateCallback modelStateCallback() const;
  void setModelStateCallback(StateCallback callback);

  std::optional<std::filesystem::path> modelPath() const;
  // The loader's folder, when it has one.
  std::optional<std::filesystem::path> modelFolder() const;
  const ModelDownloader &downloader() const { return downloader_; }
  const std::shared_ptr<ModelLoader> &loader() const { return loader_; }
  // The unqualified name of the object's dynamic type, prefixed to every log line.
  virtual std::string loggerName() const;

  bool isAvailable() const;
  bool isLoaded() const { return modelState() == ModelState::loaded; }

  // Loaded on return: downloads and loads once, shared by concurrent callers.
  virtual void ensureModelsLoaded();
  // Acts only while unloaded: the loader's folder when it has one, else resolveModels.
  virtual void downloadModels(const ModelDownloader::ProgressCallback &progressCallback = {});
  virtual void prewarmModels();
  virtual void loadModels();
  // Only from loaded or prewarmed; never throws.
  virtual void unloadModels();

private:
  std::filesystem::path requireModelPath() const;
  std::string tag() const { return "[" + loggerName() + "]"; }

  std::atomic<ModelState> modelState_{ModelState::unloaded};
  mutable std::mutex mutex_; // guards the callback, modelPath_ and loggerName_
  StateCallback modelStateCallback_;
  std::optional<std::filesystem::path> modelPath_;
  mutable std::optional<std::string> loggerName_;
  ModelDownloader downloader_;
  std::shared_ptr<ModelLoader> loader_;
  LoadModelsCoordinator coordinator_;
};

} // namespace deduve
