#pragma once

#include "platform/services/MicrophoneAuthorization.hpp"

#include <cstddef>
#include <mutex>

namespace platform {

// A microphone permission for tests. A request while not determined takes the answer the test
// set (granted by default), updates the status and completes at once on the calling thread.
class InMemoryMicrophoneAuthorization final : public MicrophoneAuthorization {
public:
  explicit InMemoryMicrophoneAuthorization(
      AuthorizationStatus status = AuthorizationStatus::authorized)
      : status_(status) {}

  AuthorizationStatus status() const override;
  void requestAccess(Completion completion) override;

  void setStatus(AuthorizationStatus status);
  void setAnswer(bool granted);
  std::size_t requestCount() const;

private:
  mutable std::mutex mutex_;
  AuthorizationStatus status_;
  bool answer_ = true;
  std::size_t requests_ = 0;
};

} // namespace platform
