#include "platform/system/CancellationToken.hpp"

#include "platform/system/CancellationError.hpp"

#include <atomic>
#include <vector>

namespace platform {

struct CancellationToken::Registration::State {
  std::mutex mutex;
  // Held while handlers run, so a registration being reset waits for its handler to return.
  std::recursive_mutex running;
  std::atomic<bool> cancelled{false};
  std::map<uint64_t, std::function<void()>> handlers;
  uint64_t nextId = 1;
};

CancellationToken::Registration::Registration(Registration &&other) noexcept
    : state_(std::move(other.state_)), id_(other.id_) {
  other.id_ = 0;
}

CancellationToken::Registration &
CancellationToken::Registration::operator=(Registration &&other) noexcept {
  if (this != &other) {
    reset();
    state_ = std::move(other.state_);
    id_ = other.id_;
    other.id_ = 0;
  }
  return *this;
}

void CancellationToken::Registration::reset() {
  if (auto state = state_.lock(); state && id_ != 0) {
    {
      std::lock_guard guard(state->mutex);
      state->handlers.erase(id_);
    }
    std::lock_guard wait(state->running);
  }
  state_.reset();
  id_ = 0;
}

CancellationToken::CancellationToken() : state_(std::make_shared<Registration::State>()) {}

void CancellationToken::cancel() const {
  std::lock_guard running(state_->running);
  std::map<uint64_t, std::function<void()>> handlers;
  {
    std::lock_guard guard(state_->mutex);
    if (state_->cancelled.exchange(true)) {
      return;
    }
    handlers.swap(state_->handlers);
  }
  for (auto &[id, handler] : handlers) {
    handler();
  }
}

bool CancellationToken::isCancelled() const { return state_->cancelled.load(); }

void CancellationToken::checkCancellation() const {
  if (isCancelled()) {
    throw CancellationError();
  }
}

CancellationToken::Registration CancellationToken::onCancel(std::function<void()> handler) const {
  {
    std::lock_guard guard(state_->mutex);
    if (!state_->cancelled) {
      const uint64_t id = state_->nextId++;
      state_->handlers.emplace(id, std::move(handler));
      return Registration(state_, id);
    }
  }
  handler();
  return Registration();
}

} // namespace platform
