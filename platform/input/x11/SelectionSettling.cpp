#include "platform/input/x11/SelectionSettling.hpp"

#include <algorithm>

namespace platform {

void SelectionSettling::note(const std::function<void()> &change) {
  {
    const std::lock_guard lock(mutex_);
    change();
  }
  changed_.notify_all();
}

void SelectionSettling::restart(unsigned long time) {
  note([&] {
    time_ = time;
    ownerNotified_ = false;
    answered_.clear();
  });
}

void SelectionSettling::noteOwnerNotified(unsigned long time) {
  note([&] {
    if (time == time_) {
      ownerNotified_ = true;
      notifiedAt_ = std::chrono::steady_clock::now();
    }
  });
}

void SelectionSettling::noteTargetsAnswered(unsigned long client) {
  note([&] { answered_.insert(client); });
}

bool SelectionSettling::waitFor(unsigned long client, std::chrono::milliseconds quiet,
                                std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (ownerNotified_) {
      if (answered_.contains(client) || std::chrono::steady_clock::now() >= notifiedAt_ + quiet) {
        return true;
      }
    }
    const auto wake = ownerNotified_ ? std::min(deadline, notifiedAt_ + quiet) : deadline;
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    changed_.wait_until(lock, wake);
  }
}

} // namespace platform
