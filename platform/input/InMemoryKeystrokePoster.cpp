#include "platform/input/InMemoryKeystrokePoster.hpp"

namespace platform {

bool InMemoryKeystrokePoster::post(const Keystroke &keystroke, EventTapLocation location) {
  const std::size_t attempt = attempts_++;
  if (attempt >= failFrom_) {
    return false;
  }
  posts_.push_back({keystroke, location});
  if (observer_) {
    observer_(posts_.back());
  }
  return true;
}

} // namespace platform
