#pragma once

#include "app/controller/HUDPresenter.hpp"
#include "app/controller/RefinePresenter.hpp"
#include "app/services/AudioCapture.hpp"
#include "app/services/SpeechModule.hpp"
#include "app/support/AppLog.hpp"
#include "platform/audio/MicrophoneEngine.hpp"
#include "platform/input/Accessibility.hpp"
#include "platform/input/EventTap.hpp"
#include "platform/input/KeystrokePoster.hpp"
#include "platform/input/Pasteboard.hpp"
#include "platform/services/ApplicationLauncher.hpp"
#include "platform/services/LanguageModel.hpp"
#include "platform/services/LoginItemService.hpp"
#include "platform/services/MicrophoneAuthorization.hpp"
#include "platform/services/Settings.hpp"
#include "platform/services/Updater.hpp"
#include "platform/services/Workspace.hpp"
#include "platform/system/Clock.hpp"
#include "platform/system/Environment.hpp"
#include "platform/system/Executor.hpp"
#include "platform/system/RunLoop.hpp"
#include "platform/ui/Desktop.hpp"

#include <memory>
#include <optional>
#include <string>

namespace murmurquill {

// The platform and the user interface the controller runs on: the seams a front end fills.
// The in-memory implementations in platform/ make a headless controller; a desktop front end
// gives the real ones. Every pointer is required unless its comment says otherwise; all are
// used on the main thread unless the interface says otherwise.
struct AppServices {
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
  // off-screen desktop of the application's own (headless runs).
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

} // namespace murmurquill
