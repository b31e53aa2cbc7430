#include "DeduveCore/Hub/NetworkMonitor.hpp"

namespace deduve {

bool HubApi::NetworkStateActor::isConnected() const {
  std::lock_guard lock(mutex_);
  return isConnected_;
}

bool HubApi::NetworkStateActor::isExpensive() const {
  std::lock_guard lock(mutex_);
  return isExpensive_;
}

bool HubApi::NetworkStateActor::isConstrained() const {
  std::lock_guard lock(mutex_);
  return isConstrained_;
}

void HubApi::NetworkStateActor::update(const platform::PathMonitor::Path &path) {
  std::lock_guard lock(mutex_);
  isConnected_ = path.satisfied;
  isExpensive_ = path.isExpensive;
  isConstrained_ = path.isConstrained;
}

bool HubApi::NetworkStateActor::shouldUseOfflineMode(
    const platform::Environment &environment) const {
  if (environment.variable("CI_DISABLE_NETWORK_MONITOR") == "1") {
    return false;
  }
  return !isConnected();
}

HubApi::NetworkMonitor::NetworkMonitor(std::unique_ptr<platform::PathMonitor> pathMonitor)
    : monitor_(pathMonitor ? std::move(pathMonitor) : platform::PathMonitor::makeSystemMonitor()) {}

HubApi::NetworkMonitor::~NetworkMonitor() { monitor_->cancel(); }

std::shared_ptr<HubApi::NetworkMonitor>
HubApi::NetworkMonitor::make(std::unique_ptr<platform::PathMonitor> pathMonitor) {
  std::shared_ptr<NetworkMonitor> monitor(new NetworkMonitor(std::move(pathMonitor)));
  monitor->restart();
  return monitor;
}

std::shared_ptr<HubApi::NetworkMonitor> HubApi::NetworkMonitor::shared() {
  // Deliberately never destroyed: its monitoring runs for the life of the process.
  static auto *instance = new std::shared_ptr<NetworkMonitor>(make());
  return *instance;
}

void HubApi::NetworkMonitor::restart() {
  std::weak_ptr<NetworkMonitor> weak = weak_from_this();
  monitor_->setUpdateHandler([weak](const platform::PathMonitor::Path &path) {
    if (auto self = weak.lock()) {
      self->handlePathUpdate(path);
    }
  });
  monitor_->start();
}

void HubApi::NetworkMonitor::handlePathUpdate(const platform::PathMonitor::Path &path) {
  state_.update(path);
}

} // namespace deduve
