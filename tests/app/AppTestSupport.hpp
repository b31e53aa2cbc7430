#pragma once

#include "app/support/AppLog.hpp"

#include <mutex>
#include <string>
#include <vector>

namespace murmurquill::testing {

// A log sink that keeps the lines; thread-safe like the real one.
class LogRecorder {
public:
  LogSink sink() {
    return [this](const std::string &line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    };
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

} // namespace murmurquill::testing
