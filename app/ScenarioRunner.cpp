#include "app/ScenarioRunner.hpp"

#include "DeduveCore/Text/Utf8.hpp"
#include "app/controller/AppCore.hpp"
#include "app/services/DivuvovIzeSpeechModule.hpp"
#include "platform/audio/InMemoryMicrophoneEngine.hpp"
#include "platform/input/EventTap.hpp"
#include "platform/input/InMemoryAccessibility.hpp"
#include "platform/input/InMemoryEventTapService.hpp"
#include "platform/input/InMemoryKeystrokePoster.hpp"
#include "platform/input/InMemoryPasteboard.hpp"
#include "platform/services/InMemoryMicrophoneAuthorization.hpp"
#include "platform/services/InMemorySettings.hpp"
#include "platform/services/InMemoryWorkspace.hpp"
#include "platform/system/ManualExecutor.hpp"
#include "platform/system/ThreadPool.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace murmurquill {
namespace {

using namespace std::chrono_literals;
using Statement = ScenarioScript::Statement;

// The microphone's format when the scenario has no audio.
constexpr double kDefaultMicrophoneRate = 48000.0;
// Virtual time given after the last statement for delayed work (the pasteboard's restore).
constexpr auto kSettleTime = 1s;
// The refine chord: Control-Command-R.
constexpr std::int64_t kRefineKeyCode = 15;
constexpr std::uint64_t kRefineFlags =
    platform::EventFlags::maskControl | platform::EventFlags::maskCommand;

// A serial worker that counts its unfinished items, so the runner can wait for it to drain.
class CountingWorker final : public platform::Executor {
public:
  CountingWorker() : pool_(platform::ThreadPool::Options{.threadCount = 1, .maxThreadCount = 1}) {}

  void post(Work work) override {
    begin();
    pool_.post([this, work = std::move(work)]() mutable { runCounted(std::move(work)); });
  }
  platform::TimerHandle after(Clock::duration delay, Work work) override {
    begin();
    return pool_.after(delay,
                       [this, work = std::move(work)]() mutable { runCounted(std::move(work)); });
  }
  Clock::time_point now() const override { return pool_.now(); }
  bool isCurrent() const override { return pool_.isCurrent(); }

  void waitUntilIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return pending_ == 0; });
  }

private:
  struct Finisher {
    CountingWorker &worker;
    ~Finisher() { worker.finish(); }
  };
  // The item counts as finished only once it and everything it captured are gone, so what it
  // held is never released on this thread after the runner has moved on.
  void runCounted(Work work) {
    Finisher finisher{*this};
    const Work item = std::move(work);
    item();
  }
  void begin() {
    std::lock_guard lock(mutex_);
    ++pending_;
  }
  void finish() {
    std::lock_guard lock(mutex_);
    if (--pending_ == 0) {
      idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable idle_;
  std::size_t pending_ = 0;
  platform::ThreadPool pool_; // last: its threads stop before the counters go
};

// The engine's worker of a scenario that holds the model load: work posted before the
// load-finishes line waits here, then goes to the worker in order.
class HoldingWorker final : public platform::Executor {
public:
  HoldingWorker(std::shared_ptr<CountingWorker> worker, bool holding)
      : worker_(std::move(worker)), holding_(holding) {}

  void post(Work work) override {
    if (holding_) {
      held_.push_back(std::move(work));
    } else {
      worker_->post(std::move(work));
    }
  }
  platform::TimerHandle after(Clock::duration delay, Work work) override {
    return worker_->after(delay, std::move(work));
  }
  Clock::time_point now() const override { return worker_->now(); }
  bool isCurrent() const override { return worker_->isCurrent(); }

  // Main thread only.
  void release() {
    holding_ = false;
    for (auto &work : held_) {
      worker_->post(std::move(work));
    }
    held_.clear();
  }

private:
  std::shared_ptr<CountingWorker> worker_;
  bool holding_;
  std::deque<Work> held_;
};

std::string modeName(const HUDMode &mode) {
  switch (mode.kind) {
  case HUDMode::Kind::ready:
    return "ready (" + mode.hotkey + ")";
  case HUDMode::Kind::hidden:
    return "hidden";
  case HUDMode::Kind::recording:
    return "recording";
  case HUDMode::Kind::transcribing:
    return "transcribing";
  case HUDMode::Kind::notReady:
    return "notReady";
  case HUDMode::Kind::micDenied:
    return "micDenied";
  case HUDMode::Kind::injectionDenied:
    return "injectionDenied";
  }
  return {};
}

// The HUD of a run without a desktop: prints "HUD: MODE" each time its mode changes.
class HeadlessHUD final : public HUDPresenter {
public:
  explicit HeadlessHUD(LogSink log) : log_(std::move(log)) {}
  void show(const HUDMode &mode) override { setMode(mode); }
  void setMode(const HUDMode &mode) override {
    if (mode == mode_) {
      return;
    }
    mode_ = mode;
    if (log_) {
      log_("HUD: " + modeName(mode));
    }
  }
  HUDMode mode() const override { return mode_; }
  bool isPanelVisible() const override { return mode_.kind != HUDMode::Kind::hidden; }

private:
  LogSink log_;
  HUDMode mode_;
};

// The refine panel of a run without a desktop: prints "Refined: TEXT" for each answer.
class HeadlessRefinePanel final : public RefinePresenter {
public:
  explicit HeadlessRefinePanel(LogSink log) : log_(std::move(log)) {}
  PanelToken show(ApplyAction, CopyAction) override { return ++token_; }
  void showResult(const std::string &text, PanelToken) override {
    if (log_) {
      log_("Refined: " + text);
    }
  }

private:
  LogSink log_;
  PanelToken token_ = 0;
};

// One run: the in-memory platform, the controller on it, and virtual time.
class ScenarioSession {
public:
  ScenarioSession(const ScenarioRunner::Options &options, const ScenarioScript &script)
      : holdingWorker_(std::make_shared<HoldingWorker>(worker_, script.holdsLoad)),
        microphone_(
            std::make_shared<platform::InMemoryMicrophoneEngine>(microphoneFormat(script))) {
    settings_->setBool("onboardingComplete", true);
    workspace_->setFrontmost(1);
    accessibility_->setTrusted(true);
    if (script.field) {
      const std::u16string value = deduve::toUtf16(*script.field);
      field_ = std::make_shared<platform::InMemoryTextField>();
      field_->setValue(value, static_cast<std::int64_t>(value.size()));
      accessibility_->setFocusedElement(field_);
    }
    poster_->setObserver([this](const platform::InMemoryKeystrokePoster::Post &post) {
      typeOnPaste(post);
    });
    core_ = AppCore::make(services(options));
  }

  ~ScenarioSession() {
    // The controller goes first, on this thread; the worker then ends with nothing of it.
    core_.reset();
    drain();
  }

  void perform(const Statement &statement) {
    moveTo(std::chrono::duration<double>(statement.seconds));
    act(statement);
    drain();
  }

  ScenarioRunner::Result finish() {
    moveTo(now_ + kSettleTime);
    if (field_) {
      result_.field = deduve::toUtf8(field_->value());
    }
    return result_;
  }

private:
  static platform::AudioFormat microphoneFormat(const ScenarioScript &script) {
    for (const Statement &statement : script.statements) {
      if (statement.audio) {
        return statement.audio->format();
      }
    }
    return *platform::AudioFormat::standard(kDefaultMicrophoneRate, 1);
  }

  AppCore::Services services(const ScenarioRunner::Options &options) {
    AppCore::Services services;
    services.main = main_;
    services.engineWorker = holdingWorker_;
    services.languageWorker = worker_;
    services.steadyClock = main_;
    services.wallClock = std::make_shared<platform::ManualWallClock>();
    services.settings = settings_;
    services.environment = options.environment;
    services.eventTaps = taps_;
    services.microphone = microphone_;
    services.microphoneAuthorization = micAuth_;
    services.speech = std::make_shared<DivuvovIzeSpeechModule>(options.modelFolder);
    services.keystrokes = poster_;
    services.pasteboard = pasteboard_;
    services.accessibility = accessibility_;
    services.workspace = workspace_;
    services.hud = std::make_shared<HeadlessHUD>(options.log);
    services.refinePanel = std::make_shared<HeadlessRefinePanel>(options.log);
    services.log = options.log;
    tapFrames_ = services.captureOptions.tapBufferSize;
    return services;
  }

  // A paste keystroke "types" what the pasteboard holds at that moment into the field.
  void typeOnPaste(const platform::InMemoryKeystrokePoster::Post &post) {
    if (post.keystroke.keyDown && post.keystroke.keyCode == TextInjector::kKeyCodeV &&
        (post.keystroke.flags & platform::EventFlags::maskCommand) != 0) {
      const std::string text = pasteboard_->string().value_or("");
      result_.typed.push_back(text);
      if (field_) {
        field_->insertText(deduve::toUtf16(text));
      }
    }
  }

  void act(const Statement &statement) {
    const HotkeyKey key = core_->permissions().hotkeyKey();
    switch (statement.kind) {
    case Statement::Kind::keyDown:
      taps_->flagsChanged(keyCode(key), modifierFlag(key) | (key == HotkeyKey::rightCommand
                                                                ? platform::EventFlags::maskCommand
                                                                : platform::EventFlags::maskAlternate));
      break;
    case Statement::Kind::keyUp:
      taps_->flagsChanged(keyCode(key), 0);
      break;
    case Statement::Kind::audio:
      play(*statement.audio);
      break;
    case Statement::Kind::loadFinishes:
      holdingWorker_->release();
      break;
    case Statement::Kind::refine:
      taps_->keyDown(kRefineKeyCode, kRefineFlags);
      break;
    case Statement::Kind::permission:
      setPermission(statement.permission, statement.granted);
      break;
    case Statement::Kind::chooseKey:
      core_->permissions().setHotkeyKey(statement.key);
      break;
    }
  }

  // The user changed a permission in the system's settings and came back to the app.
  void setPermission(ScenarioScript::Permission permission, bool granted) {
    switch (permission) {
    case ScenarioScript::Permission::microphone:
      micAuth_->setStatus(granted ? platform::AuthorizationStatus::authorized
                                  : platform::AuthorizationStatus::denied);
      break;
    case ScenarioScript::Permission::accessibility:
      poster_->setCanPostEvents(granted);
      accessibility_->setTrusted(granted);
      break;
    case ScenarioScript::Permission::inputMonitoring:
      taps_->setRefusesTaps(!granted);
      if (granted) {
        core_->permissions().startHotkey();
      } else {
        core_->hotkey().stop();
      }
      break;
    }
    core_->applicationDidBecomeActive();
  }

  // The file's samples reach the microphone in tap-sized buffers.
  void play(const platform::PcmBuffer &audio) {
    for (std::uint32_t start = 0; start < audio.frameLength(); start += tapFrames_) {
      const std::uint32_t frames = std::min(tapFrames_, audio.frameLength() - start);
      auto chunk = platform::PcmBuffer::make(audio.format(), frames);
      for (std::uint32_t channel = 0; channel < audio.format().channelCount(); ++channel) {
        std::copy_n(audio.floatChannelData(channel) + start, frames,
                    chunk->floatChannelData(channel));
      }
      chunk->setFrameLength(frames);
      microphone_->push(*chunk);
    }
  }

  // Lets the worker finish and the main queue run until neither has anything left.
  void drain() {
    for (;;) {
      worker_->waitUntilIdle();
      if (main_->runUntilIdle() == 0) {
        return;
      }
    }
  }

  void moveTo(std::chrono::duration<double> to) {
    drain();
    if (to > now_) {
      main_->advance(std::chrono::duration_cast<platform::Executor::Clock::duration>(to - now_));
      now_ = to;
    }
    drain();
  }

  // Declared first: destroyed last, after everything that posts to them.
  std::shared_ptr<platform::ManualExecutor> main_ = std::make_shared<platform::ManualExecutor>();
  std::shared_ptr<CountingWorker> worker_ = std::make_shared<CountingWorker>();
  std::shared_ptr<HoldingWorker> holdingWorker_;
  std::shared_ptr<platform::InMemorySettings> settings_ =
      std::make_shared<platform::InMemorySettings>();
  std::shared_ptr<platform::InMemoryEventTapService> taps_ =
      std::make_shared<platform::InMemoryEventTapService>();
  std::shared_ptr<platform::InMemoryMicrophoneEngine> microphone_;
  std::shared_ptr<platform::InMemoryMicrophoneAuthorization> micAuth_ =
      std::make_shared<platform::InMemoryMicrophoneAuthorization>();
  std::shared_ptr<platform::InMemoryKeystrokePoster> poster_ =
      std::make_shared<platform::InMemoryKeystrokePoster>();
  std::shared_ptr<platform::InMemoryPasteboard> pasteboard_ =
      std::make_shared<platform::InMemoryPasteboard>();
  std::shared_ptr<platform::InMemoryAccessibility> accessibility_ =
      std::make_shared<platform::InMemoryAccessibility>();
  std::shared_ptr<platform::InMemoryWorkspace> workspace_ =
      std::make_shared<platform::InMemoryWorkspace>();
  std::shared_ptr<platform::InMemoryTextField> field_;
  std::uint32_t tapFrames_ = 0;
  std::chrono::duration<double> now_{0.0};
  ScenarioRunner::Result result_;
  std::shared_ptr<AppCore> core_;
};

} // namespace

ScenarioRunner::Result ScenarioRunner::run(const Options &options) {
  const ScenarioScript script = ScenarioScript::parse(options.scenario);
  ScenarioSession session(options, script);
  for (const Statement &statement : script.statements) {
    session.perform(statement);
  }
  return session.finish();
}

} // namespace murmurquill
