#pragma once

#include "platform/services/LoginItemService.hpp"

#include <string>
#include <vector>

namespace platform {

// A login-item service for tests: the test sets the status, the status each call leaves and
// whether a call fails; calls are recorded ("register", "unregister").
class InMemoryLoginItemService final : public LoginItemService {
public:
  LoginItemStatus status() const override { return status_; }
  void registerItem() override;
  void unregisterItem() override;

  void setStatus(LoginItemStatus status) { status_ = status; }
  // The status a registration leaves (default enabled) and a withdrawal (not registered).
  void setRegisterLeaves(LoginItemStatus status) { registerLeaves_ = status; }
  // Calls throw LoginItemError (after leaving their status) while set.
  void setFails(bool fails) { fails_ = fails; }
  const std::vector<std::string> &calls() const { return calls_; }

private:
  LoginItemStatus status_ = LoginItemStatus::notRegistered;
  LoginItemStatus registerLeaves_ = LoginItemStatus::enabled;
  bool fails_ = false;
  std::vector<std::string> calls_;
};

} // namespace platform
