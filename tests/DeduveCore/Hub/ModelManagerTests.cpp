#include "DeduveCore/Hub/ModelManager.hpp"

#include "DeduveCore/Support/DeduveCoreError.hpp"
#include "tests/support/ErrorText.hpp"
#include "platform/system/CancellationError.hpp"
#include "platform/system/CancellationScope.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

using deduve::DeduveCoreError;
using deduve::ModelDownloader;
using deduve::ModelLoader;
using deduve::ModelManager;
using deduve::ModelState;
using Transition = std::pair<ModelState, ModelState>;

// Nothing in the program implements ModelLoader; this one records what the manager asks.
class RecordingLoader : public ModelLoader {
public:
  std::optional<std::string> folder;
  std::string resolvedPath = "/models/resolved";
  bool failResolve = false;
  bool failLoad = false;
  std::atomic<int> resolves{0};
  std::atomic<int> loads{0};
  std::vector<bool> prewarmFlags;
  int unloads = 0;

  std::optional<std::string> modelFolder() const override { return folder; }
  std::string resolveModels(const ModelDownloader &,
                            const ModelDownloader::ProgressCallback &) override {
    ++resolves;
    if (failResolve) {
      throw std::runtime_error("listing failed");
    }
    return resolvedPath;
  }
  void load(const std::string &path, bool prewarm) override {
    ++loads;
    prewarmFlags.push_back(prewarm);
    lastPath = path;
    if (failLoad) {
      throw std::runtime_error("bad weights");
    }
  }
  void unload() noexcept override { ++unloads; }
  std::string lastPath;
};

struct Fixture {
  std::shared_ptr<RecordingLoader> loader = std::make_shared<RecordingLoader>();
  ModelManager manager{
      loader, ModelDownloader("http://127.0.0.1:9", "owner/models", std::nullopt, "main", false)};
  std::vector<Transition> transitions;
  Fixture() {
    manager.setModelStateCallback(
        [this](ModelState from, ModelState to) { transitions.emplace_back(from, to); });
  }
};

using mqtest::errorText;

TEST(ModelManagerTest, NewManagerIsNeitherAvailableNorLoaded) {
  Fixture f;
  EXPECT_FALSE(f.manager.isAvailable());
  EXPECT_FALSE(f.manager.isLoaded());
  f.manager.downloadModels();
  EXPECT_TRUE(f.manager.isAvailable());
  EXPECT_EQ(f.manager.modelPath(), std::filesystem::path("/models/resolved"));
}

TEST(ModelManagerTest, LoadFromNothingDownloadsThenLoads) {
  Fixture f;
  f.manager.loadModels();
  EXPECT_EQ(f.transitions, (std::vector<Transition>{
                               {ModelState::unloaded, ModelState::downloading},
                               {ModelState::downloading, ModelState::downloaded},
                               {ModelState::downloaded, ModelState::loading},
                               {ModelState::loading, ModelState::loaded},
                           }));
  EXPECT_EQ(f.loader->lastPath, "/models/resolved");
  EXPECT_EQ(f.loader->prewarmFlags, std::vector<bool>{false});
}

TEST(ModelManagerTest, ConfiguredFolderSkipsTheDownload) {
  Fixture f;
  f.loader->folder = "/local/models";
  f.manager.downloadModels();
  EXPECT_EQ(f.loader->resolves, 0);
  EXPECT_EQ(f.transitions,
            (std::vector<Transition>{{ModelState::unloaded, ModelState::downloaded}}));
  f.manager.prewarmModels();
  f.manager.loadModels();
  EXPECT_EQ(f.loader->prewarmFlags, (std::vector<bool>{true, false}));
  EXPECT_EQ(f.loader->lastPath, "/local/models");
}

TEST(ModelManagerTest, RefusalsByStateNameTheState) {
  Fixture f;
  f.loader->folder = "/local/models";
  f.manager.loadModels();
  EXPECT_EQ(errorText([&] { f.manager.prewarmModels(); }), "Cannot prewarm in state: Loaded");

  Fixture g;
  g.loader->folder = "/local/models";
  g.manager.setModelState(ModelState::loading);
  EXPECT_EQ(errorText([&] { g.manager.loadModels(); }), "Cannot load in state: Loading");

  Fixture h;
  h.manager.setModelState(ModelState::downloaded);
  EXPECT_EQ(errorText([&] { h.manager.loadModels(); }),
            "No model path available. Call downloadModels() first, or provide modelFolder.");
}

TEST(ModelManagerTest, FailedStepsReturnToUnloadedAndRethrowTheLoadersError) {
  Fixture f;
  f.loader->failResolve = true;
  EXPECT_EQ(errorText([&] { f.manager.loadModels(); }), "listing failed");
  EXPECT_EQ(f.manager.modelState(), ModelState::unloaded);

  Fixture g;
  g.loader->failLoad = true;
  EXPECT_EQ(errorText([&] { g.manager.prewarmModels(); }), "bad weights");
  EXPECT_EQ(g.manager.modelState(), ModelState::unloaded);
  // The path stays; a later load downloads again before loading.
  EXPECT_EQ(g.manager.modelPath(), std::filesystem::path("/models/resolved"));
  g.loader->failLoad = false;
  g.manager.loadModels();
  EXPECT_EQ(g.loader->resolves, 2);
  EXPECT_TRUE(g.manager.isLoaded());
}

TEST(ModelManagerTest, UnloadOnlyFromLoadedOrPrewarmed) {
  Fixture f;
  f.loader->folder = "/local/models";
  f.manager.downloadModels();
  f.transitions.clear();
  f.manager.unloadModels();
  EXPECT_TRUE(f.transitions.empty());
  f.manager.loadModels();
  f.transitions.clear();
  f.manager.unloadModels();
  EXPECT_EQ(f.transitions, (std::vector<Transition>{
                               {ModelState::loaded, ModelState::unloading},
                               {ModelState::unloading, ModelState::unloaded},
                           }));
  EXPECT_EQ(f.loader->unloads, 1);
}

TEST(ModelManagerTest, SameStateAgainCallsNoCallback) {
  Fixture f;
  f.manager.setModelState(ModelState::unloaded);
  EXPECT_TRUE(f.transitions.empty());
}

TEST(ModelManagerTest, ConcurrentEnsureModelsLoadedLoadsOnce) {
  Fixture f;
  std::vector<std::thread> callers;
  for (int i = 0; i < 8; ++i) {
    callers.emplace_back([&] { f.manager.ensureModelsLoaded(); });
  }
  for (auto &caller : callers) {
    caller.join();
  }
  EXPECT_EQ(f.loader->resolves, 1);
  EXPECT_EQ(f.loader->loads, 1);
  EXPECT_TRUE(f.manager.isLoaded());
}

TEST(LoadModelsCoordinatorTest, AFailedRunIsClearedForTheNextCaller) {
  deduve::LoadModelsCoordinator coordinator;
  EXPECT_THROW(coordinator.run([] { throw std::runtime_error("first"); }), std::runtime_error);
  int runs = 0;
  coordinator.run([&] { ++runs; });
  EXPECT_EQ(runs, 1);
}

// A load that waits at a gate and then, as a real load does, checks the task's cancellation.
class GatedLoader : public RecordingLoader {
public:
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool open = false;

  void load(const std::string &path, bool prewarm) override {
    {
      std::unique_lock lock(mutex);
      entered = true;
      changed.notify_all();
      changed.wait(lock, [&] { return open; });
    }
    platform::Task::checkCancellation();
    RecordingLoader::load(path, prewarm);
  }
  void waitUntilEntered() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return entered; });
  }
  void release() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
};

// The shared load is a task of its own: the caller that started it can give up waiting without
// taking the load down for the other caller.
TEST(ModelManagerTest, ACancelledCallerLeavesTheSharedLoadToTheOthers) {
  auto loader = std::make_shared<GatedLoader>();
  ModelManager manager(loader, ModelDownloader("http://127.0.0.1:9", "owner/models",
                                               std::nullopt, "main", false));
  platform::CancellationToken token;
  std::exception_ptr firstError;
  std::thread first([&] {
    const platform::CancellationScope scope(token);
    try {
      manager.ensureModelsLoaded();
    } catch (const platform::CancellationError &) {
      // Giving up is the cancelled caller's own outcome (unless the load won the race).
    } catch (...) {
      firstError = std::current_exception();
    }
  });
  loader->waitUntilEntered();
  std::exception_ptr secondError;
  std::thread second([&] {
    try {
      manager.ensureModelsLoaded();
    } catch (...) {
      secondError = std::current_exception();
    }
  });
  token.cancel();
  loader->release();
  first.join();
  second.join();
  EXPECT_EQ(firstError, nullptr);
  EXPECT_EQ(secondError, nullptr);
  EXPECT_TRUE(manager.isLoaded());
  EXPECT_EQ(loader->loads, 1);
}

class CustomManager : public ModelManager {
public:
  using ModelManager::ModelManager;
};

TEST(ModelManagerTest, LoggerNameIsTheDynamicTypesOwnName) {
  CustomManager manager(std::make_shared<RecordingLoader>(),
                        ModelDownloader("http://127.0.0.1:9", "o/m", std::nullopt, "main", false));
  EXPECT_EQ(manager.loggerName(), "CustomManager");
  Fixture f;
  EXPECT_EQ(f.manager.loggerName(), "ModelManager");
}

} // namespace
