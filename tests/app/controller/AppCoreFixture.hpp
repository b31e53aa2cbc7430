#pragma once

#include "app/controller/AppCore.hpp"

#include "platform/audio/InMemoryMicrophoneEngine.hpp"
#include "platform/input/InMemoryAccessibility.hpp"
#include "platform/input/InMemoryEventTapService.hpp"
#include "platform/input/InMemoryKeystrokePoster.hpp"
#include "platform/input/InMemoryPasteboard.hpp"
#include "platform/services/ApplicationLauncher.hpp"
#include "platform/services/InMemoryLoginItemService.hpp"
#include "platform/services/InMemoryMicrophoneAuthorization.hpp"
#include "platform/services/InMemorySettings.hpp"
#include "platform/services/InMemoryWorkspace.hpp"
#include "platform/services/ScriptedLanguageModel.hpp"
#include "platform/services/Updater.hpp"
#include "platform/system/ManualExecutor.hpp"
#include "platform/system/RunLoop.hpp"
#include "platform/ui/Desktop.hpp"
#include "tests/app/AppTestSupport.hpp"
#include "tests/app/FakeSpeechModule.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

namespace murmurquill::testing {

using namespace std::chrono_literals;
namespace flags = platform::EventFlags;

// The HUD as the controller sees it: records every mode shown.
class FakeHUD final : public HUDPresenter {
public:
  void show(const HUDMode &mode) override {
    mode_ = mode;
    visible_ = mode.kind != HUDMode::Kind::hidden;
    shown.push_back(mode);
  }
  void setMode(const HUDMode &mode) override { mode_ = mode; }
  HUDMode mode() const override { return mode_; }
  bool isPanelVisible() const override { return visible_; }

  std::vector<HUDMode> shown;

private:
  HUDMode mode_;
  bool visible_ = false;
};

// A refine panel that keeps only the newest one open and records results by token.
class FakeRefinePanel final : public RefinePresenter {
public:
  PanelToken show(ApplyAction apply, CopyAction copy) override {
    onApply = std::move(apply);
    onCopy = std::move(copy);
    loading = true;
    text.clear();
    return ++current;
  }
  void showResult(const std::string &result, PanelToken token) override {
    results.emplace_back(result, token);
    if (token == current) {
      text = result;
      loading = false;
    }
  }

  ApplyAction onApply;
  CopyAction onCopy;
  PanelToken current = 0;
  bool loading = false;
  std::string text;
  std::vector<std::pair<std::string, PanelToken>> results;
};

// An executor whose work runs only when the test says which item, in any order.
class HeldExecutor final : public platform::Executor {
public:
  void post(Work work) override { held.push_back(std::move(work)); }
  platform::TimerHandle after(Clock::duration, Work work) override {
    post(std::move(work));
    return {};
  }
  Clock::time_point now() const override { return {}; }
  bool isCurrent() const override { return true; }
  void run(std::size_t index) {
    auto work = std::move(held.at(index));
    held.erase(held.begin() + static_cast<std::ptrdiff_t>(index));
    work();
  }
  std::deque<Work> held;
};

// A primary 1440 x 900 screen with a menu bar and a dock.
inline std::shared_ptr<platform::ui::Desktop> makeDesktop() {
  auto desktop = std::make_shared<platform::ui::Desktop>();
  desktop->setScreens({{platform::ui::makeRect(0, 0, 1440, 900),
                        platform::ui::makeRect(0, 70, 1440, 805), "Built-in"}});
  return desktop;
}

// A controller on the in-memory platform: a virtual-time main executor, settings, key taps,
// microphone, speech module, keystrokes, pasteboard, desktop and the rest. Tests change the
// members before makeCore() or launch().
class AppCoreTest : public ::testing::Test {
public:
  AppCoreTest() {
    settings->setBool("onboardingComplete", true);
    workspace->setFrontmost(4242);
    workspace->launch(777);
  }

  virtual ~AppCoreTest() = default;
  // Makes the controller on the members (a test of the whole application makes that instead).
  virtual void makeCore() { core = AppCore::make(services()); }

  // The services of a controller on the members.
  AppCore::Services services() {
    AppCore::Services services;
    services.main = main;
    services.engineWorker = engineWorker ? engineWorker : main;
    services.languageWorker = languageWorker ? languageWorker : main;
    services.steadyClock = main;
    services.wallClock = wall;
    services.settings = settings;
    services.environment =
        platform::Environment({{"XDG_DATA_HOME", temp.path().string()}}, temp.path());
    services.eventTaps = taps;
    services.microphone = microphone;
    services.microphoneAuthorization = micAuth;
    services.speech = speech;
    services.keystrokes = poster;
    services.pasteboard = pasteboard;
    services.accessibility = accessibility;
    services.workspace = workspace;
    services.languageModel = languageModel;
    services.hud = hud;
    services.refinePanel = panel;
    services.desktop = desktop;
    services.updater = updater;
    services.loginItems = loginItems;
    services.launcher = launcher;
    services.runLoop = runLoop;
    services.shortVersion = shortVersion;
    services.captureOptions = captureOptions;
    services.log = log.sink();
    return services;
  }

  // Launches and lets the model load finish.
  void launch() {
    makeCore();
    main->runUntilIdle();
  }

  void press() { taps->flagsChanged(61, flags::maskAlternate | flags::deviceRightAlternate); }
  void release() { taps->flagsChanged(61, 0); }

  // A whole dictation: press, `frames` of 16 kHz audio, release, transcription, insertion.
  void dictate(std::uint32_t frames) {
    press();
    main->runUntilIdle();
    if (frames > 0) {
      auto buffer = platform::PcmBuffer::make(*platform::AudioFormat::standard(16000, 1), frames);
      std::fill_n(buffer->floatChannelData(0), frames, 0.1f);
      buffer->setFrameLength(frames);
      microphone->push(*buffer);
    }
    release();
    main->runUntilIdle();
  }

  std::vector<std::string> linesSince(std::size_t first) const {
    const auto lines = log.lines();
    return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(first, lines.size())),
            lines.end()};
  }

  mqtest::TempDir temp;
  std::shared_ptr<platform::ManualExecutor> main = std::make_shared<platform::ManualExecutor>();
  std::shared_ptr<platform::Executor> engineWorker;
  std::shared_ptr<platform::Executor> languageWorker;
  std::shared_ptr<platform::ManualWallClock> wall = std::make_shared<platform::ManualWallClock>();
  std::shared_ptr<platform::InMemorySettings> settings =
      std::make_shared<platform::InMemorySettings>();
  std::shared_ptr<platform::InMemoryEventTapService> taps =
      std::make_shared<platform::InMemoryEventTapService>();
  std::shared_ptr<platform::InMemoryMicrophoneEngine> microphone =
      std::make_shared<platform::InMemoryMicrophoneEngine>(
          platform::AudioFormat::standard(16000, 1));
  std::shared_ptr<platform::InMemoryMicrophoneAuthorization> micAuth =
      std::make_shared<platform::InMemoryMicrophoneAuthorization>();
  std::shared_ptr<FakeSpeechModule> speech = std::make_shared<FakeSpeechModule>();
  std::shared_ptr<platform::InMemoryKeystrokePoster> poster =
      std::make_shared<platform::InMemoryKeystrokePoster>();
  std::shared_ptr<platform::InMemoryPasteboard> pasteboard =
      std::make_shared<platform::InMemoryPasteboard>();
  std::shared_ptr<platform::InMemoryAccessibility> accessibility =
      std::make_shared<platform::InMemoryAccessibility>();
  std::shared_ptr<platform::InMemoryWorkspace> workspace =
      std::make_shared<platform::InMemoryWorkspace>();
  std::shared_ptr<platform::ScriptedLanguageModel> languageModel =
      std::make_shared<platform::ScriptedLanguageModel>();
  std::shared_ptr<FakeHUD> hud = std::make_shared<FakeHUD>();
  std::shared_ptr<FakeRefinePanel> panel = std::make_shared<FakeRefinePanel>();
  std::shared_ptr<platform::ui::Desktop> desktop = makeDesktop();
  std::shared_ptr<platform::Updater> updater = std::make_shared<platform::InMemoryUpdater>();
  std::shared_ptr<platform::InMemoryLoginItemService> loginItems =
      std::make_shared<platform::InMemoryLoginItemService>();
  std::shared_ptr<platform::InMemoryApplicationLauncher> launcher =
      std::make_shared<platform::InMemoryApplicationLauncher>();
  std::shared_ptr<platform::BlockingRunLoop> runLoop =
      std::make_shared<platform::BlockingRunLoop>();
  std::optional<std::string> shortVersion = std::string("2.0");
  AudioCapture::Options captureOptions{};
  LogRecorder log;
  std::shared_ptr<AppCore> core;
};

} // namespace murmurquill::testing
