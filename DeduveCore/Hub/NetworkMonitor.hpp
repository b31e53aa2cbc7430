#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "DeduveCore/Hub/HubApi.hpp"
#include "platform/net/PathMonitor.hpp"
#include "platform/system/Environment.hpp"

namespace deduve {

// The last known network path. Starts connected, so work started before the first update runs
// online. Thread-safe.
class HubApi::NetworkStateActor {
public:
  bool isConnected() const;
  bool isExpensive() const;
  bool isConstrained() const;
  void update(const platform::PathMonitor::Path &path);

  // False when "CI_DISABLE_NETWORK_MONITOR" is exactly "1" in `environment`, else
  // !isConnected().
  bool shouldUseOfflineMode(const platform::Environment &environment) const;

private:
  mutable std::mutex mutex_;
  bool isConnected_ = true;
  bool isExpensive_ = false;
  bool isConstrained_ = false;
};

// A path monitor feeding a state. Releasing the monitor cancels its path monitor.
class HubApi::NetworkMonitor : public std::enable_shared_from_this<HubApi::NetworkMonitor> {
public:
  // Makes and starts a monitor over `pathMonitor` (the system's when null).
  static std::shared_ptr<NetworkMonitor>
  make(std::unique_ptr<platform::PathMonitor> pathMonitor = nullptr);
  // One monitor for the whole process, made on first use, never released.
  static std::shared_ptr<NetworkMonitor> shared();

  ~NetworkMonitor();
  NetworkMonitor(const NetworkMonitor &) = delete;
  NetworkMonitor &operator=(const NetworkMonitor &) = delete;

  NetworkStateActor &state() { return state_; }
  const NetworkStateActor &state() const { return state_; }

  // Installs the update handler again (holding this monitor weakly) and starts the path
  // monitor again; every client creation does this to the shared monitor.
  void restart();

  // The update handler: records the path in the state.
  void handlePathUpdate(const platform::PathMonitor::Path &path);

private:
  explicit NetworkMonitor(std::unique_ptr<platform::PathMonitor> pathMonitor);

  std::unique_ptr<platform::PathMonitor> monitor_;
  NetworkStateActor state_;
};

} // namespace deduve
