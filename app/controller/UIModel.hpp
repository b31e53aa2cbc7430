#pragma once

#include "platform/services/LoginItemService.hpp"
#include "platform/services/MicrophoneAuthorization.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace murmurquill {

// What the setup window, its pages, the about window and the menu read of the app's
// controller and what they call on it. The controller implements it over its observable
// state, so every getter registers observation and a view redraws when a value it read
// changes; tests implement it in memory. Main thread only.
class UIModel {
public:
  virtual ~UIModel() = default;

  // The push-to-talk key: its label ("Right Option"), its name inside a sentence ("the Right
  // Option key"; a chord's label alone) and its key caps.
  virtual std::string hotkeyLabel() const = 0;
  virtual std::string hotkeySpokenLabel() const = 0;
  virtual std::vector<std::string> hotkeyKeyCaps() const = 0;
  // The keys the user may choose, by label, and the position of the current one among them
  // (-1 when the current key is not offered).
  virtual std::vector<std::string> offeredHotkeyLabels() const = 0;
  virtual int selectedHotkeyIndex() const = 0;
  // Stores the offered key at `index` as the push-to-talk key (and restarts the monitor).
  virtual void selectHotkey(int index) = 0;

  virtual bool inputMonitoringGranted() const = 0;
  virtual platform::AuthorizationStatus micStatus() const = 0;
  virtual bool accessibilityGranted() const = 0;
  virtual bool isRecording() const = 0;
  virtual bool isTranscribing() const = 0;
  virtual bool isModelReady() const = 0;
  virtual bool isModelLoadFailed() const = 0;
  virtual std::string modelStatus() const = 0;
  virtual std::optional<double> loadProgress() const = 0;
  virtual std::optional<std::string> loadDetailText() const = 0;
  virtual std::optional<std::chrono::steady_clock::time_point> modelInitStartedAt() const = 0;
  // The on-device language model can refine text.
  virtual bool languageModelAvailable() const = 0;
  // The system is one that can have the on-device language model at all.
  virtual bool systemSupportsLanguageModel() const = 0;
  virtual bool refineEnabled() const = 0;
  virtual void setRefineEnabled(bool enabled) = 0;

  // Sets the hotkey permitted (writing only when it is not already).
  virtual void permitHotkey() = 0;
  // Starts the hotkey monitor when permitted and not running; updates inputMonitoringGranted.
  virtual void startHotkey() = 0;
  virtual void refreshMicStatus() = 0;
  // Reads the accessibility trust into accessibilityGranted (writing only on a change).
  virtual void refreshAccessibility() = 0;
  // Starts the system's microphone prompt; the answer arrives through micStatus.
  virtual void requestMicrophoneAccess() = 0;
  // Asks the system for accessibility trust with its prompt, unless already granted.
  virtual void requestAccessibility() = 0;
  // Starts the whole model load again; progress arrives through the model properties.
  virtual void reloadModel() = 0;
  virtual void noteUserWaitingForModel() = 0;
  // Opens a new instance of the app and ends this one when that worked.
  virtual void relaunch() = 0;
  virtual void checkForUpdates() = 0;
  virtual void quit() = 0;

  // The "onboardingComplete" and "onboardingResumePage" settings.
  virtual bool onboardingComplete() const = 0;
  virtual void setOnboardingComplete(bool complete) = 0;
  virtual std::optional<std::int64_t> resumePage() const = 0;
  virtual void setResumePage(std::int64_t page) = 0;
  virtual void removeResumePage() = 0;

  // The login item: its status and registration; failures are dropped.
  virtual platform::LoginItemStatus loginItemStatus() const = 0;
  virtual void registerLoginItem() = 0;
  virtual void unregisterLoginItem() = 0;

  // The app's name for instructions ("Murmurquill", else the process name) and its version
  // text, absent when the bundle does not say.
  virtual std::string appName() const = 0;
  virtual std::optional<std::string> shortVersion() const = 0;
};

} // namespace murmurquill
