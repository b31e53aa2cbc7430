#include "app/controller/AppCore.hpp"

#include "platform/system/ExceptionDescription.hpp"
#include "platform/system/RunInBackground.hpp"
#include "platform/services/InMemoryLoginItemService.hpp"

namespace murmurquill {

std::set<std::string> AppCore::settingsKeys() {
  auto keys = PermissionsSettings::settingsKeys();
  keys.merge(RefineController::settingsKeys());
  return keys;
}

std::shared_ptr<AppCore> AppCore::make(Services services) {
  std::shared_ptr<AppCore> core(new AppCore(std::move(services)));
  core->construct();
  return core;
}

AppCore::AppCore(Services services) : services_(std::move(services)) {
  auto &s = services_;
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

void AppCore::construct() {
  auto &s = services_;
  hotkey_ = HotkeyMonitor::make(s.eventTaps, s.main, s.log);
  audio_ =
      AudioCapture::make(s.microphone, s.microphoneAuthorization, s.main, s.log, s.captureOptions);
  engine_ = TranscriptionEngine::make(s.speech, s.environment, s.main, s.engineWorker);
  injector_ = TextInjector::make(s.keystrokes, s.pasteboard, s.accessibility, s.main, s.log);
  updater_ = std::make_unique<UpdaterService>(s.updater);
  aiCleanup_ = std::make_shared<AICleanupService>(s.languageModel, s.main, s.languageWorker, s.log);

  permissions_ = PermissionsSettings::make(s, notices_, hotkey_, audio_, injector_);
  modelLoad_ = ModelLoadController::make(s, notices_, engine_);
  refine_ = RefineController::make(s, notices_, aiCleanup_, injector_);
  dictation_ = DictationController::make(
      s, notices_,
      {audio_, engine_, injector_, aiCleanup_, permissions_, modelLoad_, refine_});
  modelLoad_->onReadyWhileUserWaits = [weak = std::weak_ptr<AppCore>(weak_from_this())] {
    if (const auto core = weak.lock()) {
      core->dictation_->showTransient(HUDMode::ready(core->permissions_->hotkeyLabel()), 3.0);
    }
  };

  permissions_->refreshMicStatus();
  permissions_->refreshAccessibility();
  wireHotkey();
  if (permissions_->onboardingComplete()) {
    permissions_->setHotkeyPermitted(true);
    permissions_->startHotkey();
  }
  s.main->post([weak = std::weak_ptr<ModelLoadController>(modelLoad_)] {
    if (const auto modelLoad = weak.lock()) {
      modelLoad->loadModel();
    }
  });
}

void AppCore::wireHotkey() {
  const std::weak_ptr<DictationController> dictation = dictation_;
  hotkey_->onKeyDown = [dictation] {
    if (const auto controller = dictation.lock()) {
      controller->hotkeyDown();
    }
  };
  hotkey_->onKeyUp = [dictation] {
    if (const auto controller = dictation.lock()) {
      controller->hotkeyUp();
    }
  };
  hotkey_->onRefineHotkey = [refine = std::weak_ptr<RefineController>(refine_)] {
    if (const auto controller = refine.lock()) {
      controller->onRefineHotkey();
    }
  };
  // A take that reaches its length cap ends as if the key had come up.
  audio_->onLengthCapReached = [dictation, log = services_.log] {
    if (const auto controller = dictation.lock()) {
      if (log) {
        log("[AudioCapture] Take reached its length limit \xE2\x80\x94 recording stopped");
      }
      controller->hotkeyUp();
    }
  };
}

void AppCore::log(const std::string &line) const {
  if (services_.log) {
    services_.log(line);
  }
}

void AppCore::applicationDidBecomeActive() {
  services_.main->post([weak = std::weak_ptr<PermissionsSettings>(permissions_)] {
    if (const auto permissions = weak.lock()) {
      permissions->refreshPermissions();
    }
  });
}

void AppCore::relaunch() {
  const std::weak_ptr<AppCore> weak = weak_from_this();
  const std::weak_ptr<platform::Executor> main = services_.main;
  services_.launcher->openNewInstance([weak, main](std::exception_ptr error) {
    platform::postToOwner(main, weak, [error](AppCore &core) {
      if (error) {
        core.log("[AppCore] Relaunch failed: " + platform::describe(error));
        return;
      }
      core.quit();
    });
  });
}

void AppCore::quit() { services_.runLoop->terminate(); }

void AppCore::checkForUpdates() {
  if (updater_->controller().checkForUpdates() == platform::UpdateCheck::unavailable) {
    log("[AppCore] Update check unavailable: this installation has no update service");
  }
}

std::string AppCore::appName() const {
  return services_.bundleName.value_or(services_.processName);
}

} // namespace murmurquill
