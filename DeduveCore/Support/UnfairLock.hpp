#pragma once

#include <mutex>
#include <type_traits>
#include <utility>

namespace deduve {

// A plain, non-recursive lock shared by reference. The body given to withLock must not take
// the same lock again and must not wait on other work that takes it.
class UnfairLock {
public:
  UnfairLock() = default;
  UnfairLock(const UnfairLock &) = delete;
  UnfairLock &operator=(const UnfairLock &) = delete;

  // Runs `body` with the lock held and returns its result; the lock is released when the body
  // throws, before the exception propagates.
  template <class Body> decltype(auto) withLock(Body &&body) {
    std::lock_guard guard(mutex_);
    return std::forward<Body>(body)();
  }

private:
  std::mutex mutex_;
};

} // namespace deduve
