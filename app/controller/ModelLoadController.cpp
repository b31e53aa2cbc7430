#include "app/controller/ModelLoadController.hpp"

#include "app/support/ByteCountFormatting.hpp"
#include "platform/system/ExceptionDescription.hpp"

#include <cmath>
#include <cstdio>
#include <vector>

namespace murmurquill {
namespace {

using TimePoint = platform::SteadyClock::time_point;

std::string formatted(const char *format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

} // namespace

std::shared_ptr<ModelLoadController>
ModelLoadController::make(const AppServices &services, std::shared_ptr<ChangeNotices> notices,
                          std::shared_ptr<TranscriptionEngine> engine) {
  return std::shared_ptr<ModelLoadController>(
      new ModelLoadController(services, std::move(notices), std::move(engine)));
}

ModelLoadController::ModelLoadController(const AppServices &services,
                                         std::shared_ptr<ChangeNotices> notices,
                                         std::shared_ptr<TranscriptionEngine> engine)
    : steadyClock_(services.steadyClock), log_(services.log), engine_(std::move(engine)),
      isModelReady_(notices, AppChange::isModelReady, false),
      isModelLoadFailed_(notices, AppChange::isModelLoadFailed, false),
      modelStatus_(notices, AppChange::modelStatus,
                   std::string("Loading Whisper model\xE2\x80\xA6")),
      loadProgress_(notices, AppChange::loadProgress),
      loadDetailText_(notices, AppChange::loadDetailText),
      userIsWaitingForModel_(notices, AppChange::userIsWaitingForModel, false),
      modelInitStartedAt_(notices, AppChange::modelInitStartedAt),
      loadPhaseOrdinal_(notices, AppChange::loadPhaseOrdinal, 0) {}

void ModelLoadController::log(const std::string &line) const {
  if (log_) {
    log_(line);
  }
}

void ModelLoadController::loadModel() {
  if (loadRunning_) {
    // The running load reports to the same properties; a second download would only race it.
    return;
  }
  loadRunning_ = true;
  isModelLoadFailed_.set(false);
  loadPhaseOrdinal_.set(0);
  modelInitStartedAt_.set(std::optional<TimePoint>());
  const auto start = steadyClock_->now();
  // Both callbacks hold this controller weakly: the engine may keep them after it is gone.
  const std::weak_ptr<ModelLoadController> weak = weak_from_this();
  engine_->load(
      kModelName,
      [weak](const TranscriptionEngine::LoadingPhase &phase) {
        if (const auto self = weak.lock()) {
          self->apply(phase);
        }
      },
      [weak, start](std::exception_ptr error) {
        if (const auto self = weak.lock()) {
          self->finishLoad(error, start);
        }
      });
}

void ModelLoadController::finishLoad(std::exception_ptr error, TimePoint start) {
  loadRunning_ = false;
  if (!error) {
    const double seconds = std::chrono::duration<double>(steadyClock_->now() - start).count();
    modelStatus_.set(formatted("Model ready \xE2\x80\x94 loaded in %.1fs", seconds));
    log(formatted("[TranscriptionEngine] Model loaded in %.2fs", seconds));
    return;
  }
  modelStatus_.set(std::string("Download failed"));
  loadProgress_.set(std::optional<double>());
  loadDetailText_.set(std::optional<std::string>());
  modelInitStartedAt_.set(std::optional<TimePoint>());
  isModelLoadFailed_.set(true);
  log("[TranscriptionEngine] Load failed: " + platform::describe(error));
}

void ModelLoadController::noteUserWaitingForModel() {
  if (!isModelReady_.peek()) {
    userIsWaitingForModel_.set(true);
  }
}

std::string ModelLoadController::etaText(double seconds) {
  const auto whole = static_cast<std::int64_t>(seconds);
  if (seconds < 60.0) {
    return std::to_string(whole) + "s remaining";
  }
  return std::to_string(whole / 60) + "m " + std::to_string(whole % 60) + "s remaining";
}

void ModelLoadController::applyDownload(const TranscriptionEngine::LoadingPhase &phase) {
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
  modelStatus_.set(std::string("Downloading the speech model"));
  loadProgress_.set(std::optional(phase.fraction));
  loadDetailText_.set(detail);
}

void ModelLoadController::showStep(std::string status) {
  modelStatus_.set(std::move(status));
  loadProgress_.set(std::optional<double>());
  loadDetailText_.set(std::optional<std::string>());
}

void ModelLoadController::apply(const TranscriptionEngine::LoadingPhase &phase) {
  using Kind = TranscriptionEngine::LoadingPhase::Kind;
  if (phase.kind == Kind::downloading) {
    applyDownload(phase);
    return;
  }
  if (phase.ordinal() < loadPhaseOrdinal_.peek()) {
    return;
  }
  loadPhaseOrdinal_.set(phase.ordinal());
  switch (phase.kind) {
  case Kind::idle:
    showStep("Idle");
    break;
  case Kind::preparing:
    showStep("Checking for Whisper model\xE2\x80\xA6");
    break;
  case Kind::initializing:
    showStep("Preparing the speech model");
    if (!modelInitStartedAt_.peek()) {
      modelInitStartedAt_.set(std::optional(steadyClock_->now()));
    }
    break;
  case Kind::ready:
    modelStatus_.set(std::string("Model ready"));
    loadProgress_.set(std::optional(1.0));
    loadDetailText_.set(std::optional<std::string>());
    isModelReady_.set(true);
    modelInitStartedAt_.set(std::optional<TimePoint>());
    if (userIsWaitingForModel_.peek()) {
      userIsWaitingForModel_.set(false);
      if (onReadyWhileUserWaits) {
        onReadyWhileUserWaits();
      }
    }
    break;
  case Kind::downloading:
    break;
  }
}

} // namespace murmurquill
