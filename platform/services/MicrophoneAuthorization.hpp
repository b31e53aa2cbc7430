#pragma once

#include <functional>

namespace platform {

// The user's answer about microphone use, with the platform's numeric values.
enum class AuthorizationStatus : int {
  notDetermined = 0, // never asked
  restricted = 1,    // the system forbids it
  denied = 2,        // the user refused
  authorized = 3,
};

// The microphone permission of this process.
class MicrophoneAuthorization {
public:
  using Completion = std::function<void(bool granted)>;

  virtual ~MicrophoneAuthorization() = default;
  // The status now. Thread-safe.
  virtual AuthorizationStatus status() const = 0;
  // Asks the user when the status is not determined (otherwise answers from the status) and
  // calls `completion` once with the answer, on any thread.
  virtual void requestAccess(Completion completion) = 0;
};

} // namespace platform
