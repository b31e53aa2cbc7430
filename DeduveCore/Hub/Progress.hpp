#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace deduve {

// Key under which a transfer's speed, in bytes per second, is kept in a progress's user info.
inline constexpr const char *kProgressThroughputKey = "NSProgressThroughputKey";

// A tree of work counters. A parent counts units of its own; a child attached with a pending
// unit count stands for that many of the parent's units, so the parent's fraction includes the
// child's fraction scaled by its pending count. When a child finishes (completed >= total), its
// pending units move into the parent's completed count.
//
// Thread-safety: every node of one tree shares one mutex, so any method may be called from any
// thread. Fractions are always within 0...1, whatever counts are set.
class Progress {
public:
  // A root progress.
  static std::shared_ptr<Progress> make(int64_t totalUnitCount);
  // A child of `parent` standing for `pendingUnitCount` of the parent's units.
  static std::shared_ptr<Progress>
  make(int64_t totalUnitCount, const std::shared_ptr<Progress> &parent, int64_t pendingUnitCount);

  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  int64_t totalUnitCount() const;
  void setTotalUnitCount(int64_t total);
  int64_t completedUnitCount() const;
  void setCompletedUnitCount(int64_t completed);

  // completed / total plus the share of unfinished children, clamped to 0...1; 0 when the
  // total is 0 or less.
  double fractionCompleted() const;
  bool isFinished() const;

  // Numeric user info (the only kind this system stores).
  void setUserInfoObject(const std::string &key, double value);
  std::optional<double> userInfoObject(const std::string &key) const;
  std::optional<double> throughput() const { return userInfoObject(kProgressThroughputKey); }

private:
  Progress(int64_t total, std::shared_ptr<std::mutex> lock);

  double fractionLocked() const;
  void setCompletedLocked(int64_t completed);

  std::shared_ptr<std::mutex> lock_; // shared by the whole tree
  int64_t total_ = 0;
  int64_t completed_ = 0;
  std::weak_ptr<Progress> parent_;
  int64_t pendingInParent_ = 0;
  bool addedToParent_ = false;
  std::vector<std::shared_ptr<Progress>> children_; // unfinished children only
  std::map<std::string, double> userInfo_;
};

} // namespace deduve
