#include "platform/ui/Observation.hpp"

namespace platform::ui {

namespace {
thread_local detail::Tracker *currentTracker = nullptr;
} // namespace

namespace detail {

void ObservationSubject::accessed() const {
  if (currentTracker == nullptr) {
    return;
  }
  for (const auto &entry : trackers_) {
    if (auto live = entry.lock(); live.get() == currentTracker) {
      return;
    }
  }
  // The tracker is owned by its ObservationTracking; find the owning pointer through the
  // weak reference the tracking registered for itself.
  trackers_.push_back(currentTracker->self);
}

void ObservationSubject::changed() {
  std::vector<std::weak_ptr<Tracker>> waiting;
  waiting.swap(trackers_);
  for (const auto &entry : waiting) {
    if (auto live = entry.lock(); live && live->onChange) {
      live->onChange();
    }
  }
}

} // namespace detail

ObservationTracking::ObservationTracking(std::function<void()> onChange)
    : onChange_(std::move(onChange)) {}

void ObservationTracking::restart() {
  tracker_ = std::make_shared<detail::Tracker>();
  tracker_->onChange = onChange_;
  tracker_->self = tracker_;
}

void ObservationTracking::cancel() { tracker_.reset(); }

ObservationTracking::Scope::Scope(detail::Tracker *tracker) : previous(currentTracker) {
  currentTracker = tracker;
}

ObservationTracking::Scope::~Scope() { currentTracker = previous; }

} // namespace platform::ui
