#pragma once

#include <optional>
#include <string>

namespace murmurquill {

// The running app as the views name and end it. Main thread only.
class AppSession {
public:
  virtual ~AppSession() = default;

  // The app's name for instructions ("Murmurquill", else the process name) and its version
  // text, absent when the bundle does not say.
  virtual std::string appName() const = 0;
  virtual std::optional<std::string> shortVersion() const = 0;
  // Opens a new instance of the app and ends this one when that worked.
  virtual void relaunch() = 0;
  virtual void checkForUpdates() = 0;
  // Ends the app's run loop.
  virtual void quit() = 0;
};

} // namespace murmurquill
