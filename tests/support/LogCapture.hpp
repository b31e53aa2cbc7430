#pragma once

// Log lines gathered by a test: the engine's log (deduve::Logging) through LogCapture, and any
// other sink through CapturedLines::add.

#include "DeduveCore/Support/Logging.hpp"

#include <mutex>
#include <string>
#include <vector>

namespace mqtest {

// Lines in the order they arrived, from any thread.
class CapturedLines {
public:
  void add(const std::string &line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  std::vector<std::string> startingWith(const std::string &prefix) const {
    std::vector<std::string> found;
    for (const auto &line : lines()) {
      if (line.rfind(prefix, 0) == 0) {
        found.push_back(line);
      }
    }
    return found;
  }
  bool has(const std::string &prefix) const { return !startingWith(prefix).empty(); }

private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Every line the engine logs at `level` or above while alive; the log is silent again after.
class LogCapture : public CapturedLines {
public:
  explicit LogCapture(deduve::Logging::LogLevel level = deduve::Logging::LogLevel::debug) {
    deduve::Logging::updateLogLevel(level);
    deduve::Logging::updateCallback([this](const std::string &line) { add(line); });
  }
  ~LogCapture() {
    deduve::Logging::updateCallback(nullptr);
    deduve::Logging::updateLogLevel(deduve::Logging::LogLevel::none);
  }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;
};

} // namespace mqtest
