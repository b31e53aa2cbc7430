#include "app/controller/PermissionsSettings.hpp"

namespace murmurquill {
namespace {

constexpr const char *kSelectedHotkeyKey = "selectedHotkeyKey";
constexpr const char *kOnboardingCompleteKey = "onboardingComplete";
constexpr const char *kOnboardingResumePageKey = "onboardingResumePage";

} // namespace

std::shared_ptr<PermissionsSettings>
PermissionsSettings::make(const AppServices &services, std::shared_ptr<ChangeNotices> notices,
                          std::shared_ptr<HotkeyMonitor> hotkey,
                          std::shared_ptr<AudioCapture> audio,
                          std::shared_ptr<TextInjector> injector) {
  return std::shared_ptr<PermissionsSettings>(new PermissionsSettings(
      services, std::move(notices), std::move(hotkey), std::move(audio), std::move(injector)));
}

PermissionsSettings::PermissionsSettings(const AppServices &services,
                                         std::shared_ptr<ChangeNotices> notices,
                                         std::shared_ptr<HotkeyMonitor> hotkey,
                                         std::shared_ptr<AudioCapture> audio,
                                         std::shared_ptr<TextInjector> injector)
    : main_(services.main), settings_(services.settings),
      microphoneAuthorization_(services.microphoneAuthorization),
      accessibility_(services.accessibility), loginItems_(services.loginItems), log_(services.log),
      hotkey_(std::move(hotkey)), audio_(std::move(audio)), injector_(std::move(injector)),
      micStatus_(notices, AppChange::micStatus, platform::AuthorizationStatus::notDetermined),
      accessibilityGranted_(notices, AppChange::accessibilityGranted, false),
      inputMonitoringGranted_(notices, AppChange::inputMonitoringGranted, false),
      hotkeyKey_(notices, AppChange::hotkeyKey, loadSavedHotkeyKey(*services.settings)),
      hotkeyPermitted_(notices, AppChange::hotkeyPermitted, false),
      loginItemSeen_(loginItems_->status()) {
  hotkey_->setKey(hotkeyKey_.peek());
}

void PermissionsSettings::log(const std::string &line) const {
  if (log_) {
    log_(line);
  }
}

std::set<std::string> PermissionsSettings::settingsKeys() {
  return {kSelectedHotkeyKey, kOnboardingCompleteKey, kOnboardingResumePageKey};
}

HotkeyKey PermissionsSettings::loadSavedHotkeyKey(const platform::Settings &settings) {
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

void PermissionsSettings::setHotkeyKey(HotkeyKey key) {
  hotkeyKey_.set(key);
  settings_->setString(kSelectedHotkeyKey, std::string(rawValue(key)));
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

void PermissionsSettings::setHotkeyPermitted(bool permitted) { hotkeyPermitted_.set(permitted); }

void PermissionsSettings::permitHotkey() {
  if (!hotkeyPermitted_.peek()) {
    setHotkeyPermitted(true);
  }
}

void PermissionsSettings::startHotkey() {
  if (!hotkeyPermitted_.peek() || hotkey_->isRunning()) {
    return;
  }
  try {
    hotkey_->start();
    inputMonitoringGranted_.set(true);
    log("[HotkeyMonitor] Started \xE2\x80\x94 hotkey " +
        std::string(displayName(hotkeyKey_.peek())));
  } catch (const std::exception &error) {
    inputMonitoringGranted_.set(false);
    log(std::string("[HotkeyMonitor] Failed to start: ") + error.what());
  }
}

void PermissionsSettings::refreshMicStatus() {
  micStatus_.set(microphoneAuthorization_->status());
  if (micStatus_.peek() == platform::AuthorizationStatus::authorized) {
    prewarmAudio();
  }
}

void PermissionsSettings::prewarmAudio() {
  if (audio_->isPrewarmed()) {
    return;
  }
  try {
    audio_->prewarm();
    prewarmFailures_.succeeded();
    log("[AudioCapture] Engine prewarmed");
  } catch (const std::exception &error) {
    // Every permission refresh prewarms again: a machine without a microphone hears it once.
    if (prewarmFailures_.isNew(error.what())) {
      log(std::string("[AudioCapture] Prewarm failed: ") + error.what());
    }
  }
}

void PermissionsSettings::requestMicrophoneAccess(std::function<void()> done) {
  const std::weak_ptr<PermissionsSettings> weak = weak_from_this();
  const std::weak_ptr<platform::Executor> main = main_;
  microphoneAuthorization_->requestAccess([weak, main, done](bool granted) {
    const auto executor = main.lock();
    if (!executor) {
      return;
    }
    executor->post([weak, granted, done] {
      if (const auto self = weak.lock()) {
        self->refreshMicStatus();
        self->log(granted ? "[AudioCapture] Mic granted" : "[AudioCapture] Mic denied");
      }
      if (done) {
        done();
      }
    });
  });
}

void PermissionsSettings::requestAccessibility() {
  if (accessibilityGranted_.peek()) {
    return;
  }
  accessibility_->isProcessTrustedWithOptions(/*prompt=*/true);
}

void PermissionsSettings::refreshAccessibility() { accessibilityGranted_.set(canPostEvents()); }

void PermissionsSettings::refreshPermissions() {
  inputMonitoringGranted_.set(hotkey_->isRunning());
  refreshMicStatus();
  refreshAccessibility();
  // The entry may have been written or removed outside the app meanwhile.
  loginItemMayHaveChanged();
}

std::string PermissionsSettings::hotkeyLabel() const {
  return std::string(displayName(hotkeyKey()));
}

std::string PermissionsSettings::hotkeySpokenLabel() const { return spokenLabel(hotkeyKey()); }

std::vector<std::string> PermissionsSettings::hotkeyKeyCaps() const { return keyCaps(hotkeyKey()); }

std::vector<std::string> PermissionsSettings::offeredHotkeyLabels() const {
  std::vector<std::string> labels;
  for (const HotkeyKey key : offeredHotkeyKeys) {
    labels.emplace_back(displayName(key));
  }
  return labels;
}

int PermissionsSettings::selectedHotkeyIndex() const {
  const HotkeyKey current = hotkeyKey();
  for (std::size_t index = 0; index < offeredHotkeyKeys.size(); ++index) {
    if (offeredHotkeyKeys[index] == current) {
      return static_cast<int>(index);
    }
  }
  return -1;
}

void PermissionsSettings::selectHotkey(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= offeredHotkeyKeys.size()) {
    return;
  }
  setHotkeyKey(offeredHotkeyKeys[static_cast<std::size_t>(index)]);
}

bool PermissionsSettings::onboardingComplete() const {
  return settings_->boolOrFalse(kOnboardingCompleteKey);
}

void PermissionsSettings::setOnboardingComplete(bool complete) {
  settings_->setBool(kOnboardingCompleteKey, complete);
}

std::optional<std::int64_t> PermissionsSettings::resumePage() const {
  return settings_->intValue(kOnboardingResumePageKey);
}

void PermissionsSettings::setResumePage(std::int64_t page) {
  settings_->setInt(kOnboardingResumePageKey, page);
}

void PermissionsSettings::removeResumePage() { settings_->remove(kOnboardingResumePageKey); }

platform::LoginItemStatus PermissionsSettings::loginItemStatus() const {
  loginItemSeen_.get();
  return loginItems_->status();
}

void PermissionsSettings::loginItemMayHaveChanged() { loginItemSeen_.set(loginItems_->status()); }

void PermissionsSettings::registerLoginItem() {
  try {
    loginItems_->registerItem();
  } catch (const platform::LoginItemError &) {
    // Dropped: the status read afterwards shows the item as not enabled.
  }
  loginItemMayHaveChanged();
}

void PermissionsSettings::unregisterLoginItem() {
  try {
    loginItems_->unregisterItem();
  } catch (const platform::LoginItemError &) {
    // Dropped, as a registration's failure is.
  }
  loginItemMayHaveChanged();
}

} // namespace murmurquill
