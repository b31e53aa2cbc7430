#pragma once

#include "platform/services/LoginItemService.hpp"

namespace murmurquill {

// Whether the app opens at login: the login item's status and its registration. Main thread
// only.
class LoginItemChoice {
public:
  virtual ~LoginItemChoice() = default;

  virtual platform::LoginItemStatus loginItemStatus() const = 0;
  // Failures are dropped: the status read afterwards tells what happened.
  virtual void registerLoginItem() = 0;
  virtual void unregisterLoginItem() = 0;
};

} // namespace murmurquill
