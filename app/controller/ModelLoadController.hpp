#pragma once

#include "app/controller/AppChange.hpp"
#include "app/controller/AppServices.hpp"
#include "app/controller/ModelLoadState.hpp"
#include "app/services/TranscriptionEngine.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace murmurquill {

// The speech model's load and the status the menu, the setup window and the icon show of it:
// the phase, the download's progress and detail line, readiness, failure, and whether the user
// is waiting for it.
//
// Main thread only. Made only through make(), as the load's reports refer to it weakly.
class ModelLoadController final : public ModelLoadState,
                                  public std::enable_shared_from_this<ModelLoadController> {
public:
  static constexpr const char *kModelName = "openai_whisper-base.en";

  static std::shared_ptr<ModelLoadController> make(const AppServices &services,
                                                   std::shared_ptr<ChangeNotices> notices,
                                                   std::shared_ptr<TranscriptionEngine> engine);

  // Runs when the model becomes ready while the user is waiting for it.
  std::function<void()> onReadyWhileUserWaits;

  bool isModelReady() const override { return isModelReady_.get(); }
  bool isModelLoadFailed() const override { return isModelLoadFailed_.get(); }
  std::string modelStatus() const override { return modelStatus_.get(); }
  std::optional<double> loadProgress() const override { return loadProgress_.get(); }
  std::optional<std::string> loadDetailText() const override { return loadDetailText_.get(); }
  bool userIsWaitingForModel() const { return userIsWaitingForModel_.get(); }
  // On the steady clock: the setup page counts the seconds since.
  std::optional<platform::SteadyClock::time_point> modelInitStartedAt() const override {
    return modelInitStartedAt_.get();
  }
  int loadPhaseOrdinal() const { return loadPhaseOrdinal_.get(); }

  // A load asked for while one runs joins it instead of starting a second one.
  void loadModel() override;
  // Marks the user as waiting, unless the model is ready.
  void noteUserWaitingForModel() override;
  void apply(const TranscriptionEngine::LoadingPhase &phase);
  // Estimates beyond this many seconds (about 31 years) show as this many.
  static constexpr double kLongestEstimate = 1e9;
  // "42s remaining", "2m 5s remaining"; an estimate below zero or not a number shows as 0 s.
  static std::string etaText(double seconds);

private:
  ModelLoadController(const AppServices &services, std::shared_ptr<ChangeNotices> notices,
                      std::shared_ptr<TranscriptionEngine> engine);
  void log(const std::string &line) const;
  void applyDownload(const TranscriptionEngine::LoadingPhase &phase);
  // The status line and an absent progress and detail.
  void showStep(std::string status);
  void finishLoad(std::exception_ptr error, platform::SteadyClock::time_point start);

  std::shared_ptr<platform::SteadyClock> steadyClock_;
  LogSink log_;
  std::shared_ptr<TranscriptionEngine> engine_;

  Published<bool> isModelReady_;
  Published<bool> isModelLoadFailed_;
  Published<std::string> modelStatus_;
  Published<std::optional<double>> loadProgress_;
  Published<std::optional<std::string>> loadDetailText_;
  Published<bool> userIsWaitingForModel_;
  Published<std::optional<platform::SteadyClock::time_point>> modelInitStartedAt_;
  Published<int> loadPhaseOrdinal_;
  bool loadRunning_ = false;
};

} // namespace murmurquill
