#pragma once

#include "app/services/AICleanupService.hpp"
#include "app/support/AppLog.hpp"
#include "app/services/AudioCapture.hpp"
#include "app/presenters/HUDPresenter.hpp"
#include "app/services/HotkeyKey.hpp"
#include "app/services/HotkeyMonitor.hpp"
#include "app/presenters/OnboardingWindowController.hpp"
#include "app/presenters/RefinePresenter.hpp"
#include "app/services/SpeechModule.hpp"
#include "app/services/TextInjector.hpp"
#include "app/services/TranscriptionEngine.hpp"
#include "app/controller/UIModel.hpp"
#include "app/services/UpdaterService.hpp"
#include "platform/audio/MicrophoneEngine.hpp"
#include "platform/input/Accessibility.hpp"
#include "platform/input/EventTap.hpp"
#include "platform/input/KeystrokePoster.hpp"
#include "platform/input/Pasteboard.hpp"
#include "platform/system/ApplicationLauncher.hpp"
#include "platform/system/Clock.hpp"
#include "platform/system/Environment.hpp"
#include "platform/system/Executor.hpp"
#include "platform/system/LanguageModel.hpp"
#include "platform/system/LoginItemService.hpp"
#include "platform/system/MicrophoneAuthorization.hpp"
#include "platform/system/RunLoop.hpp"
#include "platform/system/Settings.hpp"
#include "platform/system/Updater.hpp"
#include "platform/system/Workspace.hpp"
#include "platform/ui/Desktop.hpp"
#include "platform/ui/Observation.hpp"

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
// text at the cursor), the model load with its status, and the refine road. It is the model
// the menu, the setup window and the about window read (UIModel).
//
// Main thread only (the main executor's thread). Observed properties are tracked by the views
// that read them (a change redraws them) and call onChange with their name when an assignment
// changes them; the settings-backed setters save on every assignment. Made only through
// make(), as callbacks and queued work refer to it weakly.
class AppCore final : public UIModel, public std::enable_shared_from_this<AppCore> {
public:
  // The platform and the user interface the controller runs on: the seams a front end fills.
  // The in-memory implementations in platform/ make a headless controller; a desktop front end
  // gives the real ones. Every pointer is required unless its comment says otherwise; all are
  // used on the main thread unless the interface says otherwise.
  struct Services {
    std::shared_ptr<platform::Executor> main;             // the main thread's queue and timers
    std::shared_ptr<platform::Executor> engineWorker;     // serial: downloads, transcriptions
    std::shared_ptr<platform::Executor> languageWorker;   // language-model streams
    std::shared_ptr<platform::SteadyClock> steadyClock;   // durations: load time, refine window
    std::shared_ptr<platform::WallClock> wallClock;       // dates kept for the user
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
    std::shared_ptr<platform::LanguageModel> languageModel; // null: the system has none
    std::shared_ptr<HUDPresenter> hud;
    std::shared_ptr<RefinePresenter> refinePanel;
    // Where the setup and about windows open (and the setup pages open their links). Null: an
    // off-screen desktop of the controller's own (headless runs).
    std::shared_ptr<platform::ui::Desktop> desktop;
    // The software updater, started at construction. Null: UnavailableUpdater.
    std::shared_ptr<platform::Updater> updater;
    // The login item the setup window registers and the menu toggles. Null: an in-memory one
    // that is not registered.
    std::shared_ptr<platform::LoginItemService> loginItems;
    // Starts the new instance of a relaunch. Null: an in-memory one that never completes.
    std::shared_ptr<platform::ApplicationLauncher> launcher;
    // The application's run loop, ended by Quit and by a relaunch. Null: a BlockingRunLoop of
    // the controller's own (nobody runs it).
    std::shared_ptr<platform::RunLoop> runLoop;
    std::optional<std::string> shortVersion;               // "1.4"; absent: the About fallback
    std::optional<std::string> bundleName = "Murmurquill"; // the app's name in instructions
    std::string processName = "murmurquill";               // the name when there is no bundle name
    AudioCapture::Options captureOptions{};                // take length cap, tap size
    LogSink log;
  };

  static constexpr const char *kModelName = "openai_whisper-base.en";
  // A remembered insertion can be refined while less than this has passed.
  static constexpr std::chrono::seconds kRefineWindow{30};

  // Builds the services in order, reads the settings and permissions, wires the hotkey
  // callbacks, starts the monitor when onboarding is complete and queues the model load.
  static std::shared_ptr<AppCore> make(Services services);
  ~AppCore() override;
  AppCore(const AppCore &) = delete;
  AppCore &operator=(const AppCore &) = delete;

  // Called with a property's name after an assignment changed it.
  std::function<void(std::string_view property)> onChange;

  // Observed state.
  bool isRecording() const override { return isRecording_.get(); }
  bool isTranscribing() const override { return isTranscribing_.get(); }
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
  platform::AuthorizationStatus micStatus() const override { return micStatus_.get(); }
  bool accessibilityGranted() const override { return accessibilityGranted_.get(); }
  bool inputMonitoringGranted() const override { return inputMonitoringGranted_.get(); }
  bool refineEnabled() const override { return refineEnabled_.get(); }
  std::optional<std::string> lastInjectedText() const { return lastInjectedText_.get(); }
  std::optional<platform::WallClock::time_point> lastInjectedAt() const {
    return lastInjectedAt_.get();
  }
  std::optional<platform::ProcessId> lastInjectedAppPID() const {
    return lastInjectedAppPID_.get();
  }
  HotkeyKey hotkeyKey() const { return hotkeyKey_.get(); }
  bool hotkeyPermitted() const { return hotkeyPermitted_.get(); }

  // Saves "refineEnabled" on every assignment.
  void setRefineEnabled(bool enabled) override;
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
  // The setup and about windows.
  OnboardingWindowController &onboarding() const { return *onboarding_; }
  UpdaterService &updater() const { return *updater_; }
  platform::ui::Desktop &desktop() const { return *services_.desktop; }

  // The stored push-to-talk key: one of the offered keys, else rightOption.
  static HotkeyKey loadSavedHotkeyKey(const platform::Settings &settings);

  // Permissions and start-up.
  void startHotkey() override;
  void refreshMicStatus() override;
  void prewarmAudio();
  // Asks for the microphone; `done` runs on the main thread after the refresh.
  void requestMicrophoneAccess(std::function<void()> done);
  void requestAccessibility() override;
  void noteUserWaitingForModel() override;
  void refreshPermissions();
  // The application became active: queues the permission refresh on the main executor and
  // tells a setup window that is open (it retries the hotkey and re-reads at once).
  void applicationDidBecomeActive();
  // Starts a new instance of the app; when it started, ends this one's run loop (from the
  // main executor); when it did not, logs "[AppCore] Relaunch failed: " and keeps running.
  void relaunch() override;
  // Ends the app's run loop.
  void quit() override;

  // Dictation road.
  void hotkeyDown();
  void hotkeyUp();
  void showTransient(const HUDMode &mode, double seconds);
  void startRecording();

  // Model load. A load asked for while one runs joins it instead of starting a second one.
  void loadModel();
  void reloadModel() override;
  void apply(const TranscriptionEngine::LoadingPhase &phase);
  // "42s remaining", "2m 5s remaining".
  static std::string etaText(double seconds);

  // Refine road.
  void onRefineHotkey();
  void refineLastDictation();
  void copyRefined(const std::string &text);

  // What the views use (UIModel).
  std::string hotkeyLabel() const override;
  std::string hotkeySpokenLabel() const override;
  std::vector<std::string> hotkeyKeyCaps() const override;
  std::vector<std::string> offeredHotkeyLabels() const override;
  int selectedHotkeyIndex() const override;
  void selectHotkey(int index) override;
  bool languageModelAvailable() const override { return aiCleanup_->isAvailable(); }
  // Fixed at construction: a language model is given and its system has one at all.
  bool systemSupportsLanguageModel() const override { return systemSupportsLanguageModel_; }
  void permitHotkey() override;
  void refreshAccessibility() override;
  void requestMicrophoneAccess() override { requestMicrophoneAccess(nullptr); }
  // Reaches the updater; an installation without an update service logs that it has none.
  void checkForUpdates() override;
  bool onboardingComplete() const override;
  void setOnboardingComplete(bool complete) override;
  std::optional<std::int64_t> resumePage() const override;
  void setResumePage(std::int64_t page) override;
  void removeResumePage() override;
  int loginItemStatus() const override;
  // Failures are dropped: the status read afterwards tells what happened.
  void registerLoginItem() override;
  void unregisterLoginItem() override;
  std::string appName() const override;
  std::optional<std::string> shortVersion() const override { return services_.shortVersion; }

private:
  // What became of one take's transcription.
  struct TakeOutcome {
    enum class Kind { notReady, text, failed };
    Kind kind = Kind::text;
    std::string text; // the text, or the error's description
  };

  template <class T> using Observed = platform::ui::Observable<T>;

  explicit AppCore(Services services);
  void construct();

  template <class T, class V> void assign(Observed<T> &field, V &&value, std::string_view name) {
    T next(std::forward<V>(value));
    const bool changed = !(field.peek() == next);
    field.set(std::move(next));
    if (changed && onChange) {
      onChange(name);
    }
  }
  void log(const std::string &line) const;
  void hideHUD();
  bool canPostEvents() const;

  // Transcribes take `sequence`; outcomes are handled strictly in take order.
  void transcribeAndInject(std::vector<float> samples, std::uint64_t sequence);
  void finishTake(std::uint64_t sequence, TakeOutcome outcome);
  void handleTakeOutcome(const TakeOutcome &outcome);

  Services services_;

  Observed<bool> isRecording_{false};
  Observed<bool> isTranscribing_{false};
  Observed<bool> isModelReady_{false};
  Observed<bool> isModelLoadFailed_{false};
  Observed<std::string> modelStatus_{std::string("Loading Whisper model\xE2\x80\xA6")};
  Observed<std::optional<double>> loadProgress_;
  Observed<std::optional<std::string>> loadDetailText_;
  platform::TimerHandle transientHUDTask_;
  Observed<bool> userIsWaitingForModel_{false};
  Observed<std::optional<platform::SteadyClock::time_point>> modelInitStartedAt_;
  Observed<int> loadPhaseOrdinal_{0};
  Observed<platform::AuthorizationStatus> micStatus_{platform::AuthorizationStatus::notDetermined};
  Observed<bool> accessibilityGranted_{false};
  Observed<bool> inputMonitoringGranted_{false};

  std::shared_ptr<HotkeyMonitor> hotkey_;
  std::shared_ptr<AudioCapture> audio_;
  std::shared_ptr<TranscriptionEngine> engine_;
  std::shared_ptr<TextInjector> injector_;
  std::unique_ptr<OnboardingWindowController> onboarding_;
  std::unique_ptr<UpdaterService> updater_;
  std::shared_ptr<AICleanupService> aiCleanup_;

  Observed<bool> refineEnabled_{true};
  Observed<std::optional<std::string>> lastInjectedText_;
  Observed<std::optional<platform::WallClock::time_point>> lastInjectedAt_;
  std::optional<platform::SteadyClock::time_point> lastInjectedSteady_;
  Observed<std::optional<platform::ProcessId>> lastInjectedAppPID_;
  Observed<HotkeyKey> hotkeyKey_{HotkeyKey::rightOption};
  Observed<bool> hotkeyPermitted_{false};

  bool systemSupportsLanguageModel_ = false;
  bool loadRunning_ = false;
  std::uint64_t nextTakeSequence_ = 0;
  std::uint64_t nextTakeToFinish_ = 0;
  std::map<std::uint64_t, TakeOutcome> finishedTakes_;
};

} // namespace murmurquill
