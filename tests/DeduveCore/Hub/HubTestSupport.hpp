#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DeduveCore/Hub/HubApi.hpp"
#include "DeduveCore/Hub/NetworkMonitor.hpp"
#include "platform/system/Environment.hpp"
#include "tests/support/RefusingPort.hpp"

namespace hubtest {

using mqtest::RefusingPort;

// A path monitor the test drives: start() delivers the current path on the caller's thread.
class FakePathMonitor final : public platform::PathMonitor {
public:
  struct Record {
    std::mutex mutex;
    Path path;
    Handler handler;
    int starts = 0;
  };

  explicit FakePathMonitor(std::shared_ptr<Record> record) : record_(std::move(record)) {}

  void setUpdateHandler(Handler handler) override {
    std::lock_guard lock(record_->mutex);
    record_->handler = std::move(handler);
  }
  void start() override {
    Handler handler;
    Path path;
    {
      std::lock_guard lock(record_->mutex);
      ++record_->starts;
      handler = record_->handler;
      path = record_->path;
    }
    if (handler) {
      handler(path);
    }
  }
  void cancel() override {
    std::lock_guard lock(record_->mutex);
    record_->handler = nullptr;
  }

  // Changes the path and delivers it like a network change.
  static void push(const std::shared_ptr<Record> &record, bool satisfied) {
    Handler handler;
    {
      std::lock_guard lock(record->mutex);
      record->path.satisfied = satisfied;
      handler = record->handler;
    }
    if (handler) {
      handler(record->path);
    }
  }

private:
  std::shared_ptr<Record> record_;
};

// A client over fake monitors (no system watcher threads) and the given environment.
inline deduve::HubApi makeHub(deduve::HubApi::Settings settings,
                              platform::Environment environment = platform::Environment(),
                              std::shared_ptr<FakePathMonitor::Record> shared = nullptr) {
  if (!shared) {
    shared = std::make_shared<FakePathMonitor::Record>();
  }
  if (!settings.sharedMonitor) {
    settings.sharedMonitor =
        deduve::HubApi::NetworkMonitor::make(std::make_unique<FakePathMonitor>(shared));
  }
  if (!settings.makePathMonitor) {
    settings.makePathMonitor = [] {
      return std::make_unique<FakePathMonitor>(std::make_shared<FakePathMonitor::Record>());
    };
  }
  return deduve::HubApi(std::move(settings), std::move(environment));
}

} // namespace hubtest
