#include "platform/services/InMemoryMicrophoneAuthorization.hpp"

namespace platform {

AuthorizationStatus InMemoryMicrophoneAuthorization::status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

void InMemoryMicrophoneAuthorization::requestAccess(Completion completion) {
  bool granted = false;
  {
    std::lock_guard lock(mutex_);
    ++requests_;
    if (status_ == AuthorizationStatus::notDetermined) {
      status_ = answer_ ? AuthorizationStatus::authorized : AuthorizationStatus::denied;
    }
    granted = status_ == AuthorizationStatus::authorized;
  }
  if (completion) {
    completion(granted);
  }
}

void InMemoryMicrophoneAuthorization::setStatus(AuthorizationStatus status) {
  std::lock_guard lock(mutex_);
  status_ = status;
}

void InMemoryMicrophoneAuthorization::setAnswer(bool granted) {
  std::lock_guard lock(mutex_);
  answer_ = granted;
}

std::size_t InMemoryMicrophoneAuthorization::requestCount() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

} // namespace platform
