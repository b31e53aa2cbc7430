#pragma once

#include "app/controller/AppChange.hpp"
#include "app/controller/AppServices.hpp"
#include "app/controller/DictationState.hpp"
#include "app/controller/ModelLoadController.hpp"
#include "app/controller/PermissionsSettings.hpp"
#include "app/controller/RefineController.hpp"
#include "app/services/AICleanupService.hpp"
#include "app/services/AudioCapture.hpp"
#include "app/services/TextInjector.hpp"
#include "app/services/TranscriptionEngine.hpp"
#include "app/support/OncePerCause.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace murmurquill {

// The dictation road, key down to text at the cursor: checks the permissions and the model,
// records while the key is held, transcribes the take and types the text, with the HUD showing
// each step. Takes are typed in the order they were spoken.
//
// Main thread only. Made only through make(), as queued work and the HUD's timer refer to it
// weakly.
class DictationController final : public DictationState,
                                  public std::enable_shared_from_this<DictationController> {
public:
  struct Parts {
    std::shared_ptr<AudioCapture> audio;
    std::shared_ptr<TranscriptionEngine> engine;
    std::shared_ptr<TextInjector> injector;
    std::shared_ptr<AICleanupService> aiCleanup;
    std::shared_ptr<PermissionsSettings> permissions;
    std::shared_ptr<ModelLoadController> modelLoad;
    std::shared_ptr<RefineController> refine;
  };

  static std::shared_ptr<DictationController>
  make(const AppServices &services, std::shared_ptr<ChangeNotices> notices, Parts parts);

  bool isRecording() const override { return isRecording_.get(); }
  bool isTranscribing() const override { return isTranscribing_.get(); }

  void hotkeyDown();
  void hotkeyUp();
  // Shows `mode` and hides it after `seconds` unless the HUD shows another mode by then.
  void showTransient(const HUDMode &mode, double seconds);
  void startRecording();

private:
  // What became of one take's transcription.
  struct TakeOutcome {
    enum class Kind { notReady, text, failed };
    Kind kind = Kind::text;
    std::string text; // the text, or the error's description
  };

  DictationController(const AppServices &services, std::shared_ptr<ChangeNotices> notices,
                      Parts parts);
  void log(const std::string &line) const;
  void hideHUD();
  // Transcribes take `sequence`; outcomes are handled strictly in take order.
  void transcribeAndInject(std::vector<float> samples, std::uint64_t sequence);
  void finishTake(std::uint64_t sequence, TakeOutcome outcome);
  void handleTakeOutcome(const TakeOutcome &outcome);
  void inject(const std::string &text);
  // The take is over: not transcribing, and the HUD hidden.
  void endTake();

  std::shared_ptr<platform::Executor> main_;
  std::shared_ptr<HUDPresenter> hud_;
  LogSink log_;
  Parts parts_;

  Published<bool> isRecording_;
  Published<bool> isTranscribing_;
  platform::TimerHandle transientHUDTask_;
  OncePerCause startFailures_;
  std::uint64_t nextTakeSequence_ = 0;
  std::uint64_t nextTakeToFinish_ = 0;
  std::map<std::uint64_t, TakeOutcome> finishedTakes_;
};

} // namespace murmurquill
