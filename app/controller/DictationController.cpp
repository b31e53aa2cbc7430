#include "app/controller/DictationController.hpp"

#include "DeduveCore/Text/Unicode.hpp"
#include "platform/system/ExceptionDescription.hpp"

namespace murmurquill {
namespace {

std::chrono::nanoseconds secondsDuration(double seconds) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double>(seconds));
}

} // namespace

std::shared_ptr<DictationController>
DictationController::make(const AppServices &services, std::shared_ptr<ChangeNotices> notices,
                          Parts parts) {
  return std::shared_ptr<DictationController>(
      new DictationController(services, std::move(notices), std::move(parts)));
}

DictationController::DictationController(const AppServices &services,
                                         std::shared_ptr<ChangeNotices> notices, Parts parts)
    : main_(services.main), hud_(services.hud), log_(services.log), parts_(std::move(parts)),
      isRecording_(notices, AppChange::isRecording, false),
      isTranscribing_(notices, AppChange::isTranscribing, false) {}

void DictationController::log(const std::string &line) const {
  if (log_) {
    log_(line);
  }
}

void DictationController::hideHUD() { hud_->show(HUDMode::of(HUDMode::Kind::hidden)); }

void DictationController::hotkeyDown() {
  const auto &permissions = *parts_.permissions;
  if (permissions.micStatus() != platform::AuthorizationStatus::authorized) {
    log("[AudioCapture] Hotkey pressed without microphone access (status: " +
        std::to_string(static_cast<int>(permissions.micStatus())) + ")");
    showTransient(HUDMode::of(HUDMode::Kind::micDenied), 3.5);
    return;
  }
  if (!permissions.canPostEvents()) {
    log("[TextInjector] Hotkey pressed without permission to type at the cursor");
    showTransient(HUDMode::of(HUDMode::Kind::injectionDenied), 3.5);
    return;
  }
  auto &modelLoad = *parts_.modelLoad;
  if (!modelLoad.isModelReady()) {
    log("[TranscriptionEngine] Hotkey pressed before model ready \xE2\x80\x94 " +
        modelLoad.modelStatus());
    modelLoad.noteUserWaitingForModel();
    showTransient(HUDMode::of(HUDMode::Kind::notReady), 2.5);
    return;
  }
  startRecording();
}

void DictationController::showTransient(const HUDMode &mode, double seconds) {
  hud_->show(mode);
  transientHUDTask_.cancel();
  transientHUDTask_ = main_->after(secondsDuration(seconds), [weak = weak_from_this(), mode] {
    const auto self = weak.lock();
    if (self && self->hud_->mode() == mode) {
      self->hideHUD();
    }
  });
}

void DictationController::startRecording() {
  try {
    parts_.audio->start();
  } catch (const std::exception &error) {
    // A key held down again and again logs the same cause once.
    if (startFailures_.isNew(error.what())) {
      log(std::string("[AudioCapture] Failed to start: ") + error.what());
    }
    // Without any microphone nothing would show why the key does nothing: the HUD says so as
    // it does when access is denied. Another failure leaves it as it was.
    const auto *capture = dynamic_cast<const AudioCapture::AudioCaptureError *>(&error);
    if (capture != nullptr &&
        capture->kind() == AudioCapture::AudioCaptureError::Kind::noInputDevice) {
      showTransient(HUDMode::of(HUDMode::Kind::micDenied), 3.5);
    }
    return;
  }
  startFailures_.succeeded();
  isRecording_.set(true);
  hud_->show(HUDMode::of(HUDMode::Kind::recording));
  parts_.aiCleanup->prewarm();
  log("[AudioCapture] Recording started");
}

void DictationController::hotkeyUp() {
  if (!isRecording_.peek()) {
    return;
  }
  std::vector<float> samples = parts_.audio->stop();
  isRecording_.set(false);
  if (samples.empty()) {
    log("[AudioCapture] No samples (too short)");
    hideHUD();
    return;
  }
  const HUDMode transcribing = HUDMode::of(HUDMode::Kind::transcribing);
  hud_->setMode(transcribing);
  if (!hud_->isPanelVisible()) {
    hud_->show(transcribing);
  }
  const std::uint64_t sequence = nextTakeSequence_++;
  main_->post([weak = weak_from_this(), samples = std::move(samples), sequence]() mutable {
    if (const auto self = weak.lock()) {
      self->transcribeAndInject(std::move(samples), sequence);
    }
  });
}

void DictationController::transcribeAndInject(std::vector<float> samples, std::uint64_t sequence) {
  if (!parts_.modelLoad->isModelReady()) {
    finishTake(sequence, {TakeOutcome::Kind::notReady, {}});
    return;
  }
  isTranscribing_.set(true);
  parts_.engine->transcribe(std::move(samples), [weak = weak_from_this(), sequence](
                                                    std::string text, std::exception_ptr error) {
    const auto self = weak.lock();
    if (!self) {
      return;
    }
    if (error) {
      self->finishTake(sequence, {TakeOutcome::Kind::failed, platform::describe(error)});
    } else {
      self->finishTake(sequence, {TakeOutcome::Kind::text, std::move(text)});
    }
  });
}

void DictationController::finishTake(std::uint64_t sequence, TakeOutcome outcome) {
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

void DictationController::endTake() {
  isTranscribing_.set(false);
  hideHUD();
}

void DictationController::handleTakeOutcome(const TakeOutcome &outcome) {
  switch (outcome.kind) {
  case TakeOutcome::Kind::notReady:
    log("[TranscriptionEngine] Not ready yet");
    hideHUD();
    return;
  case TakeOutcome::Kind::failed:
    log("[TranscriptionEngine] Failed: " + outcome.text);
    endTake();
    return;
  case TakeOutcome::Kind::text:
    log("[TranscriptionEngine] \xE2\x86\x92 \"" + outcome.text + "\"");
    if (outcome.text.empty()) {
      endTake();
    } else {
      inject(outcome.text);
    }
    return;
  }
}

void DictationController::inject(const std::string &text) {
  switch (parts_.injector->inject(text)) {
  case TextInjector::InjectResult::notPermitted:
    log("[TextInjector] No permission to type at the cursor");
    isTranscribing_.set(false);
    showTransient(HUDMode::of(HUDMode::Kind::injectionDenied), 3.5);
    return;
  case TextInjector::InjectResult::failed:
    log("[TextInjector] Could not type at the cursor");
    endTake();
    return;
  case TextInjector::InjectResult::injected:
    break;
  }
  log("[TextInjector] Pasted " + std::to_string(deduve::graphemeCount(text)) + " chars");
  parts_.refine->rememberInjection(text);
  endTake();
}

} // namespace murmurquill
