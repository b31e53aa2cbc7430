#include "app/controller/AppCore.hpp"

#include "tests/app/controller/AppCoreFixture.hpp"

#include <gtest/gtest.h>

namespace murmurquill {
namespace {

using testing::AppCoreTest;
using testing::HeldExecutor;

// Work waiting on a worker holds the controller weakly: the last owner lets go on the main
// thread, and a worker never destroys the controller (which owns the worker's pool, and a pool
// cannot join its own thread).
class ControllerLifetimeTest : public AppCoreTest {
protected:
  void SetUp() override {
    engineWorker = std::make_shared<HeldExecutor>();
    languageWorker = std::make_shared<HeldExecutor>();
  }
  HeldExecutor &engineQueue() { return static_cast<HeldExecutor &>(*engineWorker); }
  HeldExecutor &languageQueue() { return static_cast<HeldExecutor &>(*languageWorker); }

  // Drops the test's controller and says whether anything else kept it.
  bool releaseController() {
    const std::weak_ptr<AppCore> weak = core;
    core.reset();
    return weak.expired();
  }
};

TEST_F(ControllerLifetimeTest, ALoadWaitingOnTheWorkerDoesNotKeepTheController) {
  launch();
  ASSERT_EQ(engineQueue().held.size(), 1u) << "the load waits on the worker";
  EXPECT_TRUE(releaseController());
  engineQueue().run(0);
  main->runUntilIdle();
  EXPECT_EQ(speech->downloads.size(), 1u);
  EXPECT_TRUE(speech->configs.size() == 1u) << "the load ran to its end without its controller";
}

TEST_F(ControllerLifetimeTest, ATranscriptionWaitingOnTheWorkerDoesNotKeepTheController) {
  launch();
  engineQueue().run(0);
  main->runUntilIdle();
  ASSERT_TRUE(core->modelLoad().isModelReady());
  dictate(16000);
  ASSERT_EQ(engineQueue().held.size(), 1u) << "the transcription waits on the worker";
  EXPECT_TRUE(releaseController());
  engineQueue().run(0);
  main->runUntilIdle();
  EXPECT_FALSE(pasteboard->string()) << "nothing is typed for a controller that is gone";
}

TEST_F(ControllerLifetimeTest, ARefineWaitingOnTheWorkerDoesNotKeepTheController) {
  languageModel->addResponse({{"Refined."}, {}});
  launch();
  engineQueue().run(0);
  main->runUntilIdle();
  dictate(16000);
  engineQueue().run(0);
  main->runUntilIdle();
  ASSERT_EQ(core->refine().lastInjectedText(), "Hello world.");
  core->refine().refineLastDictation();
  ASSERT_EQ(languageQueue().held.size(), 1u) << "the refine waits on the worker";
  EXPECT_TRUE(releaseController());
  languageQueue().run(0);
  main->runUntilIdle();
  EXPECT_TRUE(panel->results.empty());
}

} // namespace
} // namespace murmurquill
