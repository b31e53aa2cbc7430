#pragma once

#include "platform/audio/AudioInputEngine.hpp"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace platform {

// An audio input held in memory, for tests: a scripted device list and permission answer, and
// engines that play a scripted take per device from a real thread, in buffers of the tap's
// size at the device's rate, as fast as the tap takes them. A delivery limit holds the thread
// back so a test can act between buffers; tests wait for deliveries with `waitForBuffers`,
// never on wall time. Thread-safe.
class InMemoryAudioInput : public AudioInputSystem,
                           public std::enable_shared_from_this<InMemoryAudioInput> {
public:
  InMemoryAudioInput() = default;
  ~InMemoryAudioInput() override;

  // ---- Script ----

  // The devices `devices()` reports, in order. The first one with input channels is the
  // default input.
  void setDevices(std::vector<AudioDeviceDescription> devices);
  // Makes `devices()` throw AudioEngineError with `reason`, as a failing system would.
  void failDeviceListing(std::string reason);
  // What `requestRecordPermission` answers (true unless set).
  void setPermission(bool granted);
  // What a device plays once started: one vector of samples per channel, at the device's
  // default rate. Without a take a device plays nothing.
  void setTake(std::uint32_t deviceId, std::vector<std::vector<float>> channels);
  // Starting an engine on this device fails with AudioEngineError, as a device that cannot be
  // opened does.
  void failOpening(std::uint32_t deviceId);
  // Selecting this device is refused with `status`.
  void refuseSelection(std::uint32_t deviceId, int status);
  // Engines deliver until `buffers` have been delivered in all (counting from the start);
  // nothing stops them when absent (the default).
  void setDeliveryLimit(std::optional<std::size_t> buffers);

  // ---- Observation ----

  // Blocks until `count` buffers have been delivered in all, or every running engine has
  // played its whole take. Returns whether `count` was reached. A safety deadline of 30 s
  // ends a test that would otherwise hang.
  bool waitForBuffers(std::size_t count);
  // Engines made so far.
  std::size_t enginesMade() const;
  // How many permission requests were made.
  std::size_t permissionRequests() const;

  // ---- AudioInputSystem ----
  std::vector<AudioDeviceDescription> devices() override;
  bool requestRecordPermission() override;
  std::unique_ptr<AudioInputEngine> makeEngine() override;

private:
  class Engine;
  friend class Engine;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<AudioDeviceDescription> devices_;
  std::optional<std::string> listingFailure_;
  bool permission_ = true;
  std::map<std::uint32_t, std::vector<std::vector<float>>> takes_;
  std::set<std::uint32_t> failing_;
  std::map<std::uint32_t, int> refused_;
  std::optional<std::size_t> limit_;
  std::size_t delivered_ = 0;
  std::size_t engines_ = 0;
  std::size_t playing_ = 0; // engines started whose take is not played out
  std::size_t permissionRequests_ = 0;
};

} // namespace platform
