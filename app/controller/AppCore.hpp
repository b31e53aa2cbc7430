#pragma once

#include "app/controller/AppChange.hpp"
#include "app/controller/AppServices.hpp"
#include "app/controller/AppSession.hpp"
#include "app/controller/DictationController.hpp"
#include "app/controller/ModelLoadController.hpp"
#include "app/controller/PermissionsSettings.hpp"
#include "app/controller/RefineController.hpp"
#include "app/services/AICleanupService.hpp"
#include "app/services/AudioCapture.hpp"
#include "app/services/HotkeyMonitor.hpp"
#include "app/services/TextInjector.hpp"
#include "app/services/TranscriptionEngine.hpp"
#include "app/services/UpdaterService.hpp"

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace murmurquill {

// The app's controller: owns the services of the dictation system and the four controllers
// over them (dictation, model load, refine, permissions and settings) and wires the key
// monitor's callbacks to them. The views read the controllers themselves, each through the
// slices it implements; the app's own part (its name and version, relaunch, update check and
// quit) is the AppSession slice.
//
// Main thread only (the main executor's thread). Observed properties are tracked by the views
// that read them (a change redraws them) and reported to changes().listener when an assignment
// changes them; the settings-backed setters save on every assignment. Made only through
// make(), as callbacks and queued work refer to it weakly.
class AppCore final : public AppSession, public std::enable_shared_from_this<AppCore> {
public:
  using Services = AppServices;
  static constexpr const char *kModelName = ModelLoadController::kModelName;

  // Builds the services in order, reads the settings and permissions, wires the hotkey
  // callbacks, starts the monitor when onboarding is complete and queues the model load.
  static std::shared_ptr<AppCore> make(Services services);
  // Every settings key the app reads or writes; a settings file keeps these and no others.
  static std::set<std::string> settingsKeys();
  AppCore(const AppCore &) = delete;
  AppCore &operator=(const AppCore &) = delete;

  // Where the typed change notices go.
  ChangeNotices &changes() const { return *notices_; }

  // The controllers.
  DictationController &dictation() const { return *dictation_; }
  ModelLoadController &modelLoad() const { return *modelLoad_; }
  RefineController &refine() const { return *refine_; }
  PermissionsSettings &permissions() const { return *permissions_; }

  // The services.
  HotkeyMonitor &hotkey() const { return *hotkey_; }
  AudioCapture &audio() const { return *audio_; }
  TranscriptionEngine &engine() const { return *engine_; }
  TextInjector &injector() const { return *injector_; }
  AICleanupService &aiCleanup() const { return *aiCleanup_; }
  UpdaterService &updater() const { return *updater_; }

  // The application became active: queues the permission refresh on the main executor.
  void applicationDidBecomeActive();

  // The app as the views name and end it (AppSession).
  std::string appName() const override;
  std::optional<std::string> shortVersion() const override { return services_.shortVersion; }
  // Starts a new instance of the app; when it started, ends this one's run loop (from the
  // main executor); when it did not, logs "[AppCore] Relaunch failed: " and keeps running.
  void relaunch() override;
  // Reaches the updater; an installation without an update service logs that it has none.
  void checkForUpdates() override;
  // Ends the app's run loop.
  void quit() override;

private:
  explicit AppCore(Services services);
  void construct();
  void wireHotkey();
  void log(const std::string &line) const;

  Services services_;
  std::shared_ptr<ChangeNotices> notices_ = std::make_shared<ChangeNotices>();

  std::shared_ptr<HotkeyMonitor> hotkey_;
  std::shared_ptr<AudioCapture> audio_;
  std::shared_ptr<TranscriptionEngine> engine_;
  std::shared_ptr<TextInjector> injector_;
  std::unique_ptr<UpdaterService> updater_;
  std::shared_ptr<AICleanupService> aiCleanup_;

  std::shared_ptr<PermissionsSettings> permissions_;
  std::shared_ptr<ModelLoadController> modelLoad_;
  std::shared_ptr<RefineController> refine_;
  std::shared_ptr<DictationController> dictation_;
};

} // namespace murmurquill
