#pragma once

#include "platform/services/MicrophoneAuthorization.hpp"

#include <functional>

namespace murmurquill {

// The three permissions the views show (the key monitor, the microphone, typing at the
// cursor) and what they call to ask for them or read them again. The getters register
// observation, so a view redraws when a value it read changes. Main thread only.
class PermissionState {
public:
  virtual ~PermissionState() = default;

  virtual bool inputMonitoringGranted() const = 0;
  virtual platform::AuthorizationStatus micStatus() const = 0;
  virtual bool accessibilityGranted() const = 0;

  // Sets the hotkey permitted (writing only when it is not already).
  virtual void permitHotkey() = 0;
  // Starts the key monitor when permitted and not running; updates inputMonitoringGranted.
  virtual void startHotkey() = 0;
  virtual void refreshMicStatus() = 0;
  // Reads the accessibility trust into accessibilityGranted (writing only on a change).
  virtual void refreshAccessibility() = 0;
  // Starts the system's microphone prompt; the answer arrives through micStatus, and `done`
  // (may be empty) runs on the main thread after it.
  virtual void requestMicrophoneAccess(std::function<void()> done) = 0;
  // Asks the system for accessibility trust with its prompt, unless already granted.
  virtual void requestAccessibility() = 0;

  // True unless every permission is granted (a microphone status other than authorized is
  // missing).
  bool setupNeeded() const {
    return !(inputMonitoringGranted() && micStatus() == platform::AuthorizationStatus::authorized &&
             accessibilityGranted());
  }
};

} // namespace murmurquill
