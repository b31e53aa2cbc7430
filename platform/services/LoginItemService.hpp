#pragma once

#include <stdexcept>

namespace platform {

// Whether the application starts when the user logs in, with the platform's numeric values.
enum class LoginItemStatus : int {
  notRegistered = 0,
  enabled = 1,
  requiresApproval = 2, // registered, waiting for the user to allow it
  notFound = 3,         // the application to start cannot be found
};

// A registration or withdrawal that did not happen; what() names the file and the cause.
class LoginItemError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The login item of the main application. Main thread only.
class LoginItemService {
public:
  virtual ~LoginItemService() = default;
  // Read afresh on every call (the user may change it outside the app).
  virtual LoginItemStatus status() const = 0;
  // Throw LoginItemError.
  virtual void registerItem() = 0;
  virtual void unregisterItem() = 0;
};

} // namespace platform
