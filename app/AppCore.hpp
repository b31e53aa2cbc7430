#pragma once

#include "app/AICleanupService.hpp"
#include "app/AppLog.hpp"
#include "app/AudioCapture.hpp"
#include "app/HUDPresenter.hpp"
#include "app/HotkeyKey.hpp"
#include "app/HotkeyMonitor.hpp"
#include "app/RefinePresenter.hpp"
#include "app/SpeechModule.hpp"
#include "app/TextInjector.hpp"
#include "app/TranscriptionEngine.hpp"
#include "platform/audio/MicrophoneEngine.hpp"
#include "platform/input/Accessibility.hpp"
#include "platform/input/EventTap.hpp"
#include "platform/input/KeystrokePoster.hpp"
#include "platform/input/Pasteboard.hpp"
#include "platform/system/Clock.hpp"
#include "platform/system/Environment.hpp"
#include "platform/system/Executor.hpp"
#include "platform/system/LanguageModel.hpp"
#include "platform/system/MicrophoneAuthorization.hpp"
#include "platform/system/Settings.hpp"
#include "platform/system/Workspace.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace murmurquill {

// The app's one controller: owns every service of the dictation system, publishes the state
// the menu, the onboarding window and the icon show, and runs the dictation road (key down to
// text at the cursor), the model load with its status, and the refine road.
//
// Main thread only (the main executor's thread). Observed properties call onChange with their
// name when an assignment changes them; the settings-backed setters save on every assignment.
// Made only through make(), as callbacks and queued work refer to it weakly.
class AppCore final : public std::enable_shared_from_this<AppCore> {
public:
  // The platform and the user interface the controller runs on.
  struct Services {
    std::shared_ptr<platform::Executor> main;             // the main thread's queue and timers
    std::shared_ptr<platform::Executor> engineWorker;     // serial: downloads, transcriptions
    std::shared_ptr<platform::Executor> languageWorker;   // language-model streams
    std::shared_ptr<platform::SteadyClock> steadyClock;   // durations: load time, refine window
    std::shared_ptr<platform::WallClock> wallClock;       // dates shown to the user
    std::shared_ptr<platform::Settings> settings;         // the user's settings
    platform::Environment environment;                    // folders (the model folder)
    std::shared_ptr<platform::EventTapService> eventTaps; // global keyboard taps
    std::shared_ptr<platform::MicrophoneEngine> microphone;
    std::shared_ptr<platform::MicrophoneAuthorization> microphoneAuthorization;
    std::shared_ptr<SpeechModule> speech;
    std::shared_ptr<platform::KeystrokePoster> keystrokes;
    std::shared_ptr<platform::Pasteboard> pasteboard;
    std::shared_ptr<platform::Accessibility> accessibility;
    std::shared_ptr<platform::Workspace> workspace;
    std::shared_ptr<platform::LanguageModel> languageModel; // may be null
    std::shared_ptr<HUDPresenter> hud;
    std::shared_ptr<RefinePresenter> refinePanel;
    AudioCapture::Options captureOptions{}; // take length cap, tap size
    LogSink log;
  };

  static constexpr const char *kModelName = "openai_whisper-base.en";
  // A remembered insertion can be refined while less than this has passed.
  static constexpr std::chrono::seconds kRefineWindow{30};

  // Builds the services in order, reads the settings and permissions, wires the hotkey
  // callbacks, starts the monitor when onboarding is complete and queues the model load.
  static std::shared_ptr<AppCore> make(Services services);
  AppCore(const AppCore &) = delete;
  AppCore &operator=(const AppCore &) = delete;

  // Called with a property's name after an assignment changed it.
  std::function<void(std::string_view property)> onChange;

  // Observed state.
  bool isRecording() const { return isRecording_; }
  bool isTranscribing() const { return isTranscribing_; }
  bool isModelReady() const { return isModelReady_; }
  bool isModelLoadFailed() const { return isModelLoadFailed_; }
  const std::string &modelStatus() const { return modelStatus_; }
  std::optional<double> loadProgress() const { return loadProgress_; }
  const std::optional<std::string> &loadDetailText() const { return loadDetailText_; }
  bool userIsWaitingForModel() const { return userIsWaitingForModel_; }
  std::optional<platform::WallClock::time_point> modelInitStartedAt() const {
    return modelInitStartedAt_;
  }
  int loadPhaseOrdinal() const { return loadPhaseOrdinal_; }
  platform::AuthorizationStatus micStatus() const { return micStatus_; }
  bool accessibilityGranted() const { return accessibilityGranted_; }
  bool inputMonitoringGranted() const { return inputMonitoringGranted_; }
  bool refineEnabled() const { return refineEnabled_; }
  const std::optional<std::string> &lastInjectedText() const { return lastInjectedText_; }
  std::optional<platform::WallClock::time_point> lastInjectedAt() const { return lastInjectedAt_; }
  std::optional<platform::ProcessId> lastInjectedAppPID() const { return lastInjectedAppPID_; }
  HotkeyKey hotkeyKey() const { return hotkeyKey_; }
  bool hotkeyPermitted() const { return hotkeyPermitted_; }

  // Saves "refineEnabled" on every assignment.
  void setRefineEnabled(bool enabled);
  // Saves "selectedHotkeyKey" on every assignment and restarts a running monitor with the key
  // (a failed restart is silent and leaves it stopped).
  void setHotkeyKey(HotkeyKey key);
  void setHotkeyPermitted(bool permitted);

  // The services.
  HotkeyMonitor &hotkey() const { return *hotkey_; }
  AudioCapture &audio() const { return *audio_; }
  TranscriptionEngine &engine() const { return *engine_; }
  TextInjector &injector() const { return *injector_; }
  AICleanupService &aiCleanup() const { return *aiCleanup_; }

  // The stored push-to-talk key: one of the offered keys, else rightOption.
  static HotkeyKey loadSavedHotkeyKey(const platform::Settings &settings);

  // Permissions and start-up.
  void startHotkey();
  void refreshMicStatus();
  void prewarmAudio();
  // Asks for the microphone; `done` runs on the main thread after the refresh.
  void requestMicrophoneAccess(std::function<void()> done = {});
  void requestAccessibility();
  void noteUserWaitingForModel();
  void refreshPermissions();
  // The application became active: refresh the permissions on the main queue.
  void applicationDidBecomeActive();

  // Dictation road.
  void hotkeyDown();
  void hotkeyUp();
  void showTransient(const HUDMode &mode, double seconds);
  void startRecording();

  // Model load. A load asked for while one runs joins it instead of starting a second one.
  void loadModel();
  void reloadModel();
  void apply(const TranscriptionEngine::LoadingPhase &phase);
  // "42s remaining", "2m 5s remaining".
  static std::string etaText(double seconds);

  // Refine road.
  void onRefineHotkey();
  void refineLastDictation();
  void copyRefined(const std::string &text);

private:
  // What became of one take's transcription.
  struct TakeOutcome {
    enum class Kind { notReady, text, failed };
    Kind kind = Kind::text;
    std::string text; // the text, or the error's description
  };

  explicit AppCore(Services services);
  void construct();

  template <class T> void assign(T &field, T value, std::string_view name) {
    if (field == value) {
      field = std::move(value);
      return;
    }
    field = std::move(value);
    if (onChange) {
      onChange(name);
    }
  }
  void log(const std::string &line) const;
  void hideHUD();

  // Transcribes take `sequence`; outcomes are handled strictly in take order.
  void transcribeAndInject(std::vector<float> samples, std::uint64_t sequence);
  void finishTake(std::uint64_t sequence, TakeOutcome outcome);
  void handleTakeOutcome(const TakeOutcome &outcome);

  Services services_;

  bool isRecording_ = false;
  bool isTranscribing_ = false;
  bool isModelReady_ = false;
  bool isModelLoadFailed_ = false;
  std::string modelStatus_ = "Loading Whisper model\xE2\x80\xA6";
  std::optional<double> loadProgress_;
  std::optional<std::string> loadDetailText_;
  platform::TimerHandle transientHUDTask_;
  bool userIsWaitingForModel_ = false;
  std::optional<platform::WallClock::time_point> modelInitStartedAt_;
  int loadPhaseOrdinal_ = 0;
  platform::AuthorizationStatus micStatus_ = platform::AuthorizationStatus::notDetermined;
  bool accessibilityGranted_ = false;
  bool inputMonitoringGranted_ = false;

  std::shared_ptr<HotkeyMonitor> hotkey_;
  std::shared_ptr<AudioCapture> audio_;
  std::shared_ptr<TranscriptionEngine> engine_;
  std::shared_ptr<TextInjector> injector_;
  std::shared_ptr<AICleanupService> aiCleanup_;

  bool refineEnabled_ = true;
  std::optional<std::string> lastInjectedText_;
  std::optional<platform::WallClock::time_point> lastInjectedAt_;
  std::optional<platform::SteadyClock::time_point> lastInjectedSteady_;
  std::optional<platform::ProcessId> lastInjectedAppPID_;
  HotkeyKey hotkeyKey_ = HotkeyKey::rightOption;
  bool hotkeyPermitted_ = false;

  bool loadRunning_ = false;
  std::uint64_t nextTakeSequence_ = 0;
  std::uint64_t nextTakeToFinish_ = 0;
  std::map<std::uint64_t, TakeOutcome> finishedTakes_;
};

} // namespace murmurquill
