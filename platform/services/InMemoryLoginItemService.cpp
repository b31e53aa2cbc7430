#include "platform/services/InMemoryLoginItemService.hpp"

namespace platform {

void InMemoryLoginItemService::registerItem() {
  calls_.push_back("register");
  status_ = registerLeaves_;
  if (fails_) {
    throw LoginItemError("The login item could not be registered");
  }
}

void InMemoryLoginItemService::unregisterItem() {
  calls_.push_back("unregister");
  status_ = LoginItemStatus::notRegistered;
  if (fails_) {
    throw LoginItemError("The login item could not be withdrawn");
  }
}

} // namespace platform
