#include "app/controller/AppCore.hpp"

#include "DeduveCore/Text/Unicode.hpp"
#include "app/support/ByteCountFormatting.hpp"
#include "app/services/RuleBasedCleanup.hpp"
#include "platform/system/InMemoryLoginItemService.hpp"

#include <cmath>
#include <cstdio>
#include <exception>

namespace murmurquill {
namespace {

constexpr const char *kRefineEnabledKey = "refineEnabled";
constexpr const char *kSelectedHotkeyKey = "selectedHotkeyKey";
constexpr const char *kOnboardingCompleteKey = "onboardingComplete";
constexpr const char *kOnboardingResumePageKey = "onboardingResumePage";

std::string describe(const std::exception_ptr &error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception &caught) {
    return caught.what();
  } catch (...) {
    return "unknown error";
  }
}

std::string formatted(const char *format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::chrono::nanoseconds secondsDuration(double seconds) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double>(seconds));
}

} // namespace

std::shared_ptr<AppCore> AppCore::make(Services services) {
  std::shared_ptr<AppCore> core(new AppCore(std::move(services)));
  core->construct();
  return core;
}

AppCore::AppCore(Services services) : services_(std::move(services)) {
  auto &s = services_;
  if (!s.desktop) {
    s.desktop = std::make_shared<platform::ui::Desktop>();
  }
  if (!s.updater) {
    s.updater = std::make_shared<platform::UnavailableUpdater>();
  }
  if (!s.loginItems) {
    s.loginItems = std::make_shared<platform::InMemoryLoginItemService>();
  }
  if (!s.launcher) {
    s.launcher = std::make_shared<platform::InMemoryApplicationLauncher>();
  }
  if (!s.runLoop) {
    s.runLoop = std::make_shared<platform::BlockingRunLoop>();
  }
}

// The windows go first: their views hold a reference to the controller.
AppCore::~AppCore() { onboarding_.reset(); }

void AppCore::construct() {
  auto &s = services_;
  hotkey_ = HotkeyMonitor::make(s.eventTaps, s.main, s.log);
  audio_ =
      AudioCapture::make(s.microphone, s.microphoneAuthorization, s.main, s.log, s.captureOptions);
  engine_ = TranscriptionEngine::make(s.speech, s.environment, s.main, s.engineWorker);
  injector_ = TextInjector::make(s.keystrokes, s.pasteboard, s.accessibility, s.main, s.log);
  onboarding_ = std::make_unique<OnboardingWindowController>(*s.desktop, s.steadyClock);
  updater_ = std::make_unique<UpdaterService>(s.updater);
  aiCleanup_ = std::make_shared<AICleanupService>(s.languageModel, s.main, s.languageWorker, s.log);
  systemSupportsLanguageModel_ =
      s.languageModel != nullptr &&
      s.languageModel->availability() != platform::LanguageModelAvailability::unsupportedSystem;

  refineEnabled_.set(s.settings->contains(kRefineEnabledKey)
                         ? s.settings->boolValue(kRefineEnabledKey).value_or(false)
                         : true);
  hotkeyKey_.set(loadSavedHotkeyKey(*s.settings));
  hotkeyPermitted_.set(false);
  refreshMicStatus();
  assign(accessibilityGranted_, canPostEvents(), "accessibilityGranted");
  hotkey_->setKey(hotkeyKey_.peek());

  const std::weak_ptr<AppCore> weak = weak_from_this();
  hotkey_->onKeyDown = [weak] {
    if (const auto core = weak.lock()) {
      core->hotkeyDown();
    }
  };
  hotkey_->onKeyUp = [weak] {
    if (const auto core = weak.lock()) {
      core->hotkeyUp();
    }
  };
  hotkey_->onRefineHotkey = [weak] {
    if (const auto core = weak.lock()) {
      core->onRefineHotkey();
    }
  };
  // A take that reaches its length cap ends as if the key had come up.
  audio_->onLengthCapReached = [weak] {
    if (const auto core = weak.lock()) {
      core->log("[AudioCapture] Take reached its length limit \xE2\x80\x94 recording stopped");
      core->hotkeyUp();
    }
  };

  if (s.settings->boolOrFalse(kOnboardingCompleteKey)) {
    assign(hotkeyPermitted_, true, "hotkeyPermitted");
    startHotkey();
  }
  s.main->post([weak] {
    if (const auto core = weak.lock()) {
      core->loadModel();
    }
  });
}

void AppCore::log(const std::string &line) const {
  if (services_.log) {
    services_.log(line);
  }
}

void AppCore::hideHUD() { services_.hud->show(HUDMode::of(HUDMode::Kind::hidden)); }

bool AppCore::canPostEvents() const { return injector_->canPostEvents(); }

// Settings-backed properties.

HotkeyKey AppCore::loadSavedHotkeyKey(const platform::Settings &settings) {
  const auto raw = settings.stringValue(kSelectedHotkeyKey);
  if (!raw) {
    return HotkeyKey::rightOption;
  }
  const auto key = hotkeyKeyFromRawValue(*raw);
  for (const auto offered : offeredHotkeyKeys) {
    if (key == offered) {
      return offered;
    }
  }
  return HotkeyKey::rightOption;
}

void AppCore::setRefineEnabled(bool enabled) {
  assign(refineEnabled_, enabled, "refineEnabled");
  services_.settings->setBool(kRefineEnabledKey, enabled);
}

void AppCore::setHotkeyKey(HotkeyKey key) {
  assign(hotkeyKey_, key, "hotkeyKey");
  services_.settings->setString(kSelectedHotkeyKey, std::string(rawValue(key)));
  if (hotkey_->isRunning()) {
    hotkey_->stop();
    hotkey_->setKey(key);
    try {
      hotkey_->start();
    } catch (const HotkeyMonitor::HotkeyError &) {
      // Left stopped; the next startHotkey tries again.
    }
  } else {
    hotkey_->setKey(key);
  }
}

void AppCore::setHotkeyPermitted(bool permitted) {
  assign(hotkeyPermitted_, permitted, "hotkeyPermitted");
}

// Permissions and start-up.

void AppCore::startHotkey() {
  if (!hotkeyPermitted_.peek() || hotkey_->isRunning()) {
    return;
  }
  try {
    hotkey_->start();
    assign(inputMonitoringGranted_, true, "inputMonitoringGranted");
    log("[HotkeyMonitor] Started \xE2\x80\x94 hotkey " +
        std::string(displayName(hotkeyKey_.peek())));
  } catch (const std::exception &error) {
    assign(inputMonitoringGranted_, false, "inputMonitoringGranted");
    log(std::string("[HotkeyMonitor] Failed to start: ") + error.what());
  }
}

void AppCore::refreshMicStatus() {
  assign(micStatus_, services_.microphoneAuthorization->status(), "micStatus");
  if (micStatus_.peek() == platform::AuthorizationStatus::authorized) {
    prewarmAudio();
  }
}

void AppCore::prewarmAudio() {
  if (audio_->isPrewarmed()) {
    return;
  }
  try {
    audio_->prewarm();
    log("[AudioCapture] Engine prewarmed");
  } catch (const std::exception &error) {
    log(std::string("[AudioCapture] Prewarm failed: ") + error.what());
  }
}

void AppCore::requestMicrophoneAccess(std::function<void()> done) {
  const std::weak_ptr<AppCore> weak = weak_from_this();
  const std::weak_ptr<platform::Executor> main = services_.main;
  services_.microphoneAuthorization->requestAccess([weak, main, done](bool granted) {
    const auto executor = main.lock();
    if (!executor) {
      return;
    }
    executor->post([weak, granted, done] {
      if (const auto core = weak.lock()) {
        core->refreshMicStatus();
        core->log(granted ? "[AudioCapture] Mic granted" : "[AudioCapture] Mic denied");
      }
      if (done) {
        done();
      }
    });
  });
}

void AppCore::requestAccessibility() {
  if (accessibilityGranted_.peek()) {
    return;
  }
  services_.accessibility->isProcessTrustedWithOptions(/*prompt=*/true);
}

void AppCore::noteUserWaitingForModel() {
  if (!isModelReady_.peek()) {
    assign(userIsWaitingForModel_, true, "userIsWaitingForModel");
  }
}

void AppCore::refreshPermissions() {
  assign(inputMonitoringGranted_, hotkey_->isRunning(), "inputMonitoringGranted");
  refreshMicStatus();
  assign(accessibilityGranted_, canPostEvents(), "accessibilityGranted");
}

void AppCore::applicationDidBecomeActive() {
  services_.main->post([weak = weak_from_this()] {
    if (const auto core = weak.lock()) {
      core->refreshPermissions();
    }
  });
  onboarding_->applicationDidBecomeActive();
}

void AppCore::relaunch() {
  const std::weak_ptr<AppCore> weak = weak_from_this();
  const std::weak_ptr<platform::Executor> main = services_.main;
  services_.launcher->openNewInstance([weak, main](std::exception_ptr error) {
    const auto executor = main.lock();
    if (!executor) {
      return;
    }
    executor->post([weak, error] {
      const auto core = weak.lock();
      if (!core) {
        return;
      }
      if (error) {
        core->log("[AppCore] Relaunch failed: " + describe(error));
        return;
      }
      core->quit();
    });
  });
}

void AppCore::quit() { services_.runLoop->terminate(); }

// Dictation road.

void AppCore::hotkeyDown() {
  if (micStatus_.peek() != platform::AuthorizationStatus::authorized) {
    log("[AudioCapture] Hotkey pressed without microphone access (status: " +
        std::to_string(static_cast<int>(micStatus_.peek())) + ")");
    showTransient(HUDMode::of(HUDMode::Kind::micDenied), 3.5);
    return;
  }
  if (!canPostEvents()) {
    log("[TextInjector] Hotkey pressed without permission to type at the cursor");
    showTransient(HUDMode::of(HUDMode::Kind::injectionDenied), 3.5);
    return;
  }
  if (!isModelReady_.peek()) {
    log("[TranscriptionEngine] Hotkey pressed before model ready \xE2\x80\x94 " +
        modelStatus_.peek());
    assign(userIsWaitingForModel_, true, "userIsWaitingForModel");
    showTransient(HUDMode::of(HUDMode::Kind::notReady), 2.5);
    return;
  }
  startRecording();
}

void AppCore::showTransient(const HUDMode &mode, double seconds) {
  services_.hud->show(mode);
  transientHUDTask_.cancel();
  transientHUDTask_ =
      services_.main->after(secondsDuration(seconds), [weak = weak_from_this(), mode] {
        const auto core = weak.lock();
        if (core && core->services_.hud->mode() == mode) {
          core->hideHUD();
        }
      });
}

void AppCore::startRecording() {
  try {
    audio_->start();
  } catch (const std::exception &error) {
    log(std::string("[AudioCapture] Failed to start: ") + error.what());
    return;
  }
  assign(isRecording_, true, "isRecording");
  services_.hud->show(HUDMode::of(HUDMode::Kind::recording));
  aiCleanup_->prewarm();
  log("[AudioCapture] Recording started");
}

void AppCore::hotkeyUp() {
  if (!isRecording_.peek()) {
    return;
  }
  std::vector<float> samples = audio_->stop();
  assign(isRecording_, false, "isRecording");
  if (samples.empty()) {
    log("[AudioCapture] No samples (too short)");
    hideHUD();
    return;
  }
  const HUDMode transcribing = HUDMode::of(HUDMode::Kind::transcribing);
  services_.hud->setMode(transcribing);
  if (!services_.hud->isPanelVisible()) {
    services_.hud->show(transcribing);
  }
  const std::uint64_t sequence = nextTakeSequence_++;
  services_.main->post(
      [core = shared_from_this(), samples = std::move(samples), sequence]() mutable {
        core->transcribeAndInject(std::move(samples), sequence);
      });
}

void AppCore::transcribeAndInject(std::vector<float> samples, std::uint64_t sequence) {
  if (!isModelReady_.peek()) {
    finishTake(sequence, {TakeOutcome::Kind::notReady, {}});
    return;
  }
  assign(isTranscribing_, true, "isTranscribing");
  engine_->transcribe(std::move(samples), [weak = weak_from_this(),
                                           sequence](std::string text, std::exception_ptr error) {
    const auto core = weak.lock();
    if (!core) {
      return;
    }
    if (error) {
      core->finishTake(sequence, {TakeOutcome::Kind::failed, describe(error)});
    } else {
      core->finishTake(sequence, {TakeOutcome::Kind::text, std::move(text)});
    }
  });
}

void AppCore::finishTake(std::uint64_t sequence, TakeOutcome outcome) {
  // Takes are inserted in the order they were spoken, whatever order their transcriptions end
  // in.
  finishedTakes_.emplace(sequence, std::move(outcome));
  for (auto next = finishedTakes_.find(nextTakeToFinish_); next != finishedTakes_.end();
       next = finishedTakes_.find(nextTakeToFinish_)) {
    const TakeOutcome ready = std::move(next->second);
    finishedTakes_.erase(next);
    ++nextTakeToFinish_;
    handleTakeOutcome(ready);
  }
}

void AppCore::handleTakeOutcome(const TakeOutcome &outcome) {
  switch (outcome.kind) {
  case TakeOutcome::Kind::notReady:
    log("[TranscriptionEngine] Not ready yet");
    hideHUD();
    return;
  case TakeOutcome::Kind::failed:
    log("[TranscriptionEngine] Failed: " + outcome.text);
    assign(isTranscribing_, false, "isTranscribing");
    hideHUD();
    return;
  case TakeOutcome::Kind::text:
    break;
  }
  const std::string &text = outcome.text;
  log("[TranscriptionEngine] \xE2\x86\x92 \"" + text + "\"");
  if (text.empty()) {
    assign(isTranscribing_, false, "isTranscribing");
    hideHUD();
    return;
  }
  switch (injector_->inject(text)) {
  case TextInjector::InjectResult::notPermitted:
    log("[TextInjector] No permission to type at the cursor");
    assign(isTranscribing_, false, "isTranscribing");
    showTransient(HUDMode::of(HUDMode::Kind::injectionDenied), 3.5);
    return;
  case TextInjector::InjectResult::failed:
    log("[TextInjector] Could not type at the cursor");
    assign(isTranscribing_, false, "isTranscribing");
    hideHUD();
    return;
  case TextInjector::InjectResult::injected:
    break;
  }
  log("[TextInjector] Pasted " + std::to_string(deduve::graphemeCount(text)) + " chars");
  assign(lastInjectedText_, std::optional<std::string>(text), "lastInjectedText");
  assign(lastInjectedAt_, std::optional(services_.wallClock->now()), "lastInjectedAt");
  lastInjectedSteady_ = services_.steadyClock->now();
  assign(lastInjectedAppPID_, services_.workspace->frontmostApplication(), "lastInjectedAppPID");
  assign(isTranscribing_, false, "isTranscribing");
  hideHUD();
}

// Model load.

void AppCore::loadModel() {
  if (loadRunning_) {
    // The running load reports to the same properties; a second download would only race it.
    return;
  }
  loadRunning_ = true;
  assign(isModelLoadFailed_, false, "isModelLoadFailed");
  assign(loadPhaseOrdinal_, 0, "loadPhaseOrdinal");
  assign(modelInitStartedAt_, std::optional<platform::SteadyClock::time_point>(),
         "modelInitStartedAt");
  const auto start = services_.steadyClock->now();
  const std::weak_ptr<AppCore> weak = weak_from_this();
  engine_->load(
      kModelName,
      [weak](const TranscriptionEngine::LoadingPhase &phase) {
        if (const auto core = weak.lock()) {
          core->apply(phase);
        }
      },
      [core = shared_from_this(), start](std::exception_ptr error) {
        core->loadRunning_ = false;
        if (!error) {
          const double seconds =
              std::chrono::duration<double>(core->services_.steadyClock->now() - start).count();
          core->assign(core->modelStatus_,
                       formatted("Model ready \xE2\x80\x94 loaded in %.1fs", seconds),
                       "modelStatus");
          core->log(formatted("[TranscriptionEngine] Model loaded in %.2fs", seconds));
          return;
        }
        core->assign(core->modelStatus_, std::string("Download failed"), "modelStatus");
        core->assign(core->loadProgress_, std::optional<double>(), "loadProgress");
        core->assign(core->loadDetailText_, std::optional<std::string>(), "loadDetailText");
        core->assign(core->modelInitStartedAt_, std::optional<platform::SteadyClock::time_point>(),
                     "modelInitStartedAt");
        core->assign(core->isModelLoadFailed_, true, "isModelLoadFailed");
        core->log("[TranscriptionEngine] Load failed: " + describe(error));
      });
}

void AppCore::reloadModel() { loadModel(); }

std::string AppCore::etaText(double seconds) {
  const auto whole = static_cast<std::int64_t>(seconds);
  if (seconds < 60.0) {
    return std::to_string(whole) + "s remaining";
  }
  return std::to_string(whole / 60) + "m " + std::to_string(whole % 60) + "s remaining";
}

void AppCore::apply(const TranscriptionEngine::LoadingPhase &phase) {
  using Kind = TranscriptionEngine::LoadingPhase::Kind;
  if (phase.kind == Kind::downloading) {
    if (loadPhaseOrdinal_.peek() >= 3) {
      return;
    }
    std::vector<std::string> parts;
    if (phase.totalBytes >= 1) {
      if (phase.totalBytes <= 1000000) {
        const std::int64_t file = std::min(phase.downloadedBytes + 1, phase.totalBytes);
        parts.push_back("file " + std::to_string(file) + " of " + std::to_string(phase.totalBytes));
      } else {
        parts.push_back(byteCountText(phase.downloadedBytes) + " of " +
                        byteCountText(phase.totalBytes));
      }
    }
    if (phase.etaSeconds && std::isfinite(*phase.etaSeconds) && *phase.etaSeconds > 0) {
      parts.push_back(etaText(*phase.etaSeconds));
    }
    std::optional<std::string> detail;
    for (const auto &part : parts) {
      detail = detail ? *detail + " \xC2\xB7 " + part : part;
    }
    assign(modelStatus_, std::string("Downloading the speech model"), "modelStatus");
    assign(loadProgress_, std::optional(phase.fraction), "loadProgress");
    assign(loadDetailText_, detail, "loadDetailText");
    return;
  }
  if (phase.ordinal() < loadPhaseOrdinal_.peek()) {
    return;
  }
  assign(loadPhaseOrdinal_, phase.ordinal(), "loadPhaseOrdinal");
  switch (phase.kind) {
  case Kind::idle:
    assign(modelStatus_, std::string("Idle"), "modelStatus");
    assign(loadProgress_, std::optional<double>(), "loadProgress");
    assign(loadDetailText_, std::optional<std::string>(), "loadDetailText");
    break;
  case Kind::preparing:
    assign(modelStatus_, std::string("Checking for Whisper model\xE2\x80\xA6"), "modelStatus");
    assign(loadProgress_, std::optional<double>(), "loadProgress");
    assign(loadDetailText_, std::optional<std::string>(), "loadDetailText");
    break;
  case Kind::initializing:
    assign(modelStatus_, std::string("Preparing the speech model"), "modelStatus");
    assign(loadProgress_, std::optional<double>(), "loadProgress");
    assign(loadDetailText_, std::optional<std::string>(), "loadDetailText");
    if (!modelInitStartedAt_.peek()) {
      assign(modelInitStartedAt_, std::optional(services_.steadyClock->now()),
             "modelInitStartedAt");
    }
    break;
  case Kind::ready:
    assign(modelStatus_, std::string("Model ready"), "modelStatus");
    assign(loadProgress_, std::optional(1.0), "loadProgress");
    assign(loadDetailText_, std::optional<std::string>(), "loadDetailText");
    assign(isModelReady_, true, "isModelReady");
    assign(modelInitStartedAt_, std::optional<platform::SteadyClock::time_point>(),
           "modelInitStartedAt");
    if (userIsWaitingForModel_.peek()) {
      assign(userIsWaitingForModel_, false, "userIsWaitingForModel");
      showTransient(HUDMode::ready(std::string(displayName(hotkeyKey_.peek()))), 3.0);
    }
    break;
  case Kind::downloading:
    break;
  }
}

// Refine road.

void AppCore::onRefineHotkey() {
  services_.main->post([weak = weak_from_this()] {
    if (const auto core = weak.lock()) {
      core->refineLastDictation();
    }
  });
}

void AppCore::refineLastDictation() {
  if (!refineEnabled_.peek() || !lastInjectedText_.peek() || !lastInjectedAt_.peek() ||
      !lastInjectedSteady_) {
    return;
  }
  // Measured on the steady clock: a change of the wall clock neither opens nor closes it.
  if (services_.steadyClock->now() - *lastInjectedSteady_ >= kRefineWindow) {
    return;
  }
  const std::string consumed = *lastInjectedText_.peek();
  assign(lastInjectedText_, std::optional<std::string>(), "lastInjectedText");
  const bool available = aiCleanup_->isAvailable();
  const auto pid = lastInjectedAppPID_.peek();
  const std::weak_ptr<AppCore> weak = weak_from_this();
  RefinePresenter::ApplyAction onApply = [weak, pid, consumed](const std::string &refined) {
    const auto core = weak.lock();
    if (!core) {
      return false;
    }
    if (pid) {
      core->services_.workspace->activateApplication(*pid);
    }
    return core->injector_->replaceLastInjection(consumed, refined);
  };
  RefinePresenter::CopyAction onCopy = [weak](const std::string &refined) {
    if (const auto core = weak.lock()) {
      core->copyRefined(refined);
    }
  };
  auto &panel = *services_.refinePanel;
  if (available) {
    const auto token = panel.show(std::move(onApply), std::move(onCopy));
    aiCleanup_->refine(consumed, [weak, token](std::string refined) {
      if (const auto core = weak.lock()) {
        core->services_.refinePanel->showResult(refined, token);
      }
    });
  } else {
    const std::string refined = ruleBasedCleanup(consumed);
    const auto token = panel.show(std::move(onApply), std::move(onCopy));
    panel.showResult(refined, token);
  }
}

void AppCore::copyRefined(const std::string &text) {
  services_.pasteboard->clearContents();
  services_.pasteboard->setString(text);
}

// What the views use.

std::string AppCore::hotkeyLabel() const { return std::string(displayName(hotkeyKey())); }

std::string AppCore::hotkeySpokenLabel() const { return spokenLabel(hotkeyKey()); }

std::vector<std::string> AppCore::hotkeyKeyCaps() const { return keyCaps(hotkeyKey()); }

std::vector<std::string> AppCore::offeredHotkeyLabels() const {
  std::vector<std::string> labels;
  for (const HotkeyKey key : offeredHotkeyKeys) {
    labels.emplace_back(displayName(key));
  }
  return labels;
}

int AppCore::selectedHotkeyIndex() const {
  const HotkeyKey current = hotkeyKey();
  for (std::size_t index = 0; index < offeredHotkeyKeys.size(); ++index) {
    if (offeredHotkeyKeys[index] == current) {
      return static_cast<int>(index);
    }
  }
  return -1;
}

void AppCore::selectHotkey(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= offeredHotkeyKeys.size()) {
    return;
  }
  setHotkeyKey(offeredHotkeyKeys[static_cast<std::size_t>(index)]);
}

void AppCore::permitHotkey() {
  if (!hotkeyPermitted_.peek()) {
    setHotkeyPermitted(true);
  }
}

void AppCore::refreshAccessibility() {
  assign(accessibilityGranted_, canPostEvents(), "accessibilityGranted");
}

void AppCore::checkForUpdates() {
  if (updater_->controller().checkForUpdates() == platform::UpdateCheck::unavailable) {
    log("[AppCore] Update check unavailable: this installation has no update service");
  }
}

bool AppCore::onboardingComplete() const {
  return services_.settings->boolOrFalse(kOnboardingCompleteKey);
}

void AppCore::setOnboardingComplete(bool complete) {
  services_.settings->setBool(kOnboardingCompleteKey, complete);
}

std::optional<std::int64_t> AppCore::resumePage() const {
  return services_.settings->intValue(kOnboardingResumePageKey);
}

void AppCore::setResumePage(std::int64_t page) {
  services_.settings->setInt(kOnboardingResumePageKey, page);
}

void AppCore::removeResumePage() { services_.settings->remove(kOnboardingResumePageKey); }

int AppCore::loginItemStatus() const { return static_cast<int>(services_.loginItems->status()); }

void AppCore::registerLoginItem() {
  try {
    services_.loginItems->registerItem();
  } catch (const platform::LoginItemError &) {
    // Dropped: the status read afterwards shows the item as not enabled.
  }
}

void AppCore::unregisterLoginItem() {
  try {
    services_.loginItems->unregisterItem();
  } catch (const platform::LoginItemError &) {
    // Dropped, as a registration's failure is.
  }
}

std::string AppCore::appName() const {
  return services_.bundleName.value_or(services_.processName);
}

} // namespace murmurquill
