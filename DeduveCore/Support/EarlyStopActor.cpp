#include "DeduveCore/Support/EarlyStopActor.hpp"

namespace deduve {

void EarlyStopActor::set(bool shouldStop, const platform::UUID &window) {
  std::lock_guard lock(mutex_);
  shouldStop_[window] = shouldStop;
}

bool EarlyStopActor::get(const platform::UUID &window) const {
  std::lock_guard lock(mutex_);
  auto it = shouldStop_.find(window);
  return it != shouldStop_.end() && it->second;
}

std::optional<bool> EarlyStopActor::remove(const platform::UUID &window) {
  std::lock_guard lock(mutex_);
  auto it = shouldStop_.find(window);
  if (it == shouldStop_.end()) {
    return std::nullopt;
  }
  const bool flag = it->second;
  shouldStop_.erase(it);
  return flag;
}

std::size_t EarlyStopActor::count() const {
  std::lock_guard lock(mutex_);
  return shouldStop_.size();
}

} // namespace deduve
