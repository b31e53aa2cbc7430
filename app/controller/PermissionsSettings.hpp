#pragma once

#include "app/controller/AppChange.hpp"
#include "app/controller/AppServices.hpp"
#include "app/controller/HotkeyChoice.hpp"
#include "app/controller/LoginItemChoice.hpp"
#include "app/controller/OnboardingProgress.hpp"
#include "app/controller/PermissionState.hpp"
#include "app/services/AudioCapture.hpp"
#include "app/services/HotkeyKey.hpp"
#include "app/services/HotkeyMonitor.hpp"
#include "app/services/TextInjector.hpp"
#include "app/support/OncePerCause.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace murmurquill {

// The permissions the app needs (microphone, typing at the cursor, the key monitor) and the
// user's settings that go with them: the push-to-talk key, the onboarding's progress and the
// login item. Owns that state and is the views' model of it; starts the key monitor and
// prewarms the microphone when the permissions allow.
//
// Main thread only. Made only through make(), as the microphone prompt's answer refers to it
// weakly.
class PermissionsSettings final : public PermissionState,
                                  public HotkeyChoice,
                                  public OnboardingProgress,
                                  public LoginItemChoice,
                                  public std::enable_shared_from_this<PermissionsSettings> {
public:
  static std::shared_ptr<PermissionsSettings> make(const AppServices &services,
                                                   std::shared_ptr<ChangeNotices> notices,
                                                   std::shared_ptr<HotkeyMonitor> hotkey,
                                                   std::shared_ptr<AudioCapture> audio,
                                                   std::shared_ptr<TextInjector> injector);

  // The stored push-to-talk key: one of the offered keys, else rightOption.
  static HotkeyKey loadSavedHotkeyKey(const platform::Settings &settings);
  // The settings keys this part reads and writes.
  static std::set<std::string> settingsKeys();

  platform::AuthorizationStatus micStatus() const override { return micStatus_.get(); }
  bool accessibilityGranted() const override { return accessibilityGranted_.get(); }
  bool inputMonitoringGranted() const override { return inputMonitoringGranted_.get(); }
  HotkeyKey hotkeyKey() const { return hotkeyKey_.get(); }
  bool hotkeyPermitted() const { return hotkeyPermitted_.get(); }
  // Whether the app may type at the cursor now (read afresh).
  bool canPostEvents() const { return injector_->canPostEvents(); }

  // Saves "selectedHotkeyKey" on every assignment and restarts a running monitor with the key
  // (a failed restart is silent and leaves it stopped).
  void setHotkeyKey(HotkeyKey key);
  void setHotkeyPermitted(bool permitted);
  // Sets the hotkey permitted (writing only when it is not already).
  void permitHotkey() override;
  // Starts the monitor when permitted and not running; updates inputMonitoringGranted.
  void startHotkey() override;
  void refreshMicStatus() override;
  void prewarmAudio();
  // Asks for the microphone; `done` runs on the main thread after the refresh.
  void requestMicrophoneAccess(std::function<void()> done) override;
  void requestAccessibility() override;
  void refreshAccessibility() override;
  void refreshPermissions();

  // The push-to-talk key as the views show and choose it.
  std::string hotkeyLabel() const override;
  std::string hotkeySpokenLabel() const override;
  std::vector<std::string> hotkeyKeyCaps() const override;
  std::vector<std::string> offeredHotkeyLabels() const override;
  int selectedHotkeyIndex() const override;
  void selectHotkey(int index) override;

  // The "onboardingComplete" and "onboardingResumePage" settings.
  bool onboardingComplete() const override;
  void setOnboardingComplete(bool complete) override;
  std::optional<std::int64_t> resumePage() const override;
  void setResumePage(std::int64_t page) override;
  void removeResumePage() override;

  // The login item's status, read from the service; views that read it redraw when a
  // registration, a withdrawal or a permission refresh finds it changed.
  platform::LoginItemStatus loginItemStatus() const override;
  // Failures are dropped: the status read afterwards tells what happened.
  void registerLoginItem() override;
  void unregisterLoginItem() override;

private:
  PermissionsSettings(const AppServices &services, std::shared_ptr<ChangeNotices> notices,
                      std::shared_ptr<HotkeyMonitor> hotkey, std::shared_ptr<AudioCapture> audio,
                      std::shared_ptr<TextInjector> injector);
  void log(const std::string &line) const;
  void loginItemMayHaveChanged();

  std::shared_ptr<platform::Executor> main_;
  std::shared_ptr<platform::Settings> settings_;
  std::shared_ptr<platform::MicrophoneAuthorization> microphoneAuthorization_;
  std::shared_ptr<platform::Accessibility> accessibility_;
  std::shared_ptr<platform::LoginItemService> loginItems_;
  LogSink log_;
  std::shared_ptr<HotkeyMonitor> hotkey_;
  std::shared_ptr<AudioCapture> audio_;
  std::shared_ptr<TextInjector> injector_;

  Published<platform::AuthorizationStatus> micStatus_;
  Published<bool> accessibilityGranted_;
  Published<bool> inputMonitoringGranted_;
  Published<HotkeyKey> hotkeyKey_;
  Published<bool> hotkeyPermitted_;
  OncePerCause prewarmFailures_;
  // The login item's status when last read, for observers: the entry is the service's.
  platform::ui::Observable<platform::LoginItemStatus> loginItemSeen_;
};

} // namespace murmurquill
