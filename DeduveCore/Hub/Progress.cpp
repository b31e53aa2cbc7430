#include "DeduveCore/Hub/Progress.hpp"

#include <algorithm>
#include <cmath>

namespace deduve {

Progress::Progress(int64_t total, std::shared_ptr<std::mutex> lock)
    : lock_(std::move(lock)), total_(total) {}

std::shared_ptr<Progress> Progress::make(int64_t totalUnitCount) {
  return std::shared_ptr<Progress>(new Progress(totalUnitCount, std::make_shared<std::mutex>()));
}

std::shared_ptr<Progress> Progress::make(int64_t totalUnitCount,
                                         const std::shared_ptr<Progress> &parent,
                                         int64_t pendingUnitCount) {
  if (!parent) {
    return make(totalUnitCount);
  }
  auto child = std::shared_ptr<Progress>(new Progress(totalUnitCount, parent->lock_));
  std::lock_guard guard(*parent->lock_);
  child->parent_ = parent;
  child->pendingInParent_ = std::max<int64_t>(pendingUnitCount, 0);
  parent->children_.push_back(child);
  return child;
}

int64_t Progress::totalUnitCount() const {
  std::lock_guard guard(*lock_);
  return total_;
}

void Progress::setTotalUnitCount(int64_t total) {
  std::lock_guard guard(*lock_);
  total_ = total;
  setCompletedLocked(completed_);
}

int64_t Progress::completedUnitCount() const {
  std::lock_guard guard(*lock_);
  return completed_;
}

void Progress::setCompletedUnitCount(int64_t completed) {
  std::lock_guard guard(*lock_);
  setCompletedLocked(completed);
}

void Progress::setCompletedLocked(int64_t completed) {
  completed_ = completed;
  if (addedToParent_ || total_ <= 0 || completed_ < total_) {
    return;
  }
  // Finished: hand the pending units to the parent once and leave its list of running children.
  auto parent = parent_.lock();
  if (!parent) {
    return;
  }
  addedToParent_ = true;
  auto &siblings = parent->children_;
  siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                [this](const auto &sibling) { return sibling.get() == this; }),
                 siblings.end());
  parent->setCompletedLocked(parent->completed_ + pendingInParent_);
}

double Progress::fractionCompleted() const {
  std::lock_guard guard(*lock_);
  return fractionLocked();
}

double Progress::fractionLocked() const {
  if (total_ <= 0) {
    return 0.0;
  }
  double done = static_cast<double>(std::clamp<int64_t>(completed_, 0, total_));
  for (const auto &child : children_) {
    done += static_cast<double>(child->pendingInParent_) * child->fractionLocked();
  }
  const double fraction = done / static_cast<double>(total_);
  if (!std::isfinite(fraction)) {
    return 0.0;
  }
  return std::clamp(fraction, 0.0, 1.0);
}

bool Progress::isFinished() const {
  std::lock_guard guard(*lock_);
  return total_ > 0 && completed_ >= total_;
}

void Progress::setUserInfoObject(const std::string &key, double value) {
  std::lock_guard guard(*lock_);
  userInfo_[key] = value;
}

std::optional<double> Progress::userInfoObject(const std::string &key) const {
  std::lock_guard guard(*lock_);
  const auto found = userInfo_.find(key);
  if (found == userInfo_.end()) {
    return std::nullopt;
  }
  return found->second;
}

} // namespace deduve
