#include "platform/audio/InMemoryAudioInput.hpp"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

namespace platform {

// Plays its device's take on its own thread. Every field below is guarded by the system's
// mutex, and every change is announced on the system's condition variable.
class InMemoryAudioInput::Engine : public AudioInputEngine {
public:
  explicit Engine(std::shared_ptr<InMemoryAudioInput> system) : system_(std::move(system)) {
    std::lock_guard lock(system_->mutex_);
    for (const auto &device : system_->devices_) {
      if (device.inputChannelCount > 0) {
        device_ = device.id;
        break;
      }
    }
  }

  ~Engine() override { stop(); }

  int selectInputDevice(std::uint32_t deviceId) override {
    std::lock_guard lock(system_->mutex_);
    if (const auto refused = system_->refused_.find(deviceId); refused != system_->refused_.end()) {
      return refused->second;
    }
    device_ = deviceId;
    return 0;
  }

  std::optional<AudioFormat> inputFormat() override {
    std::lock_guard lock(system_->mutex_);
    return formatLocked();
  }

  void installTap(std::uint32_t bufferSize, AudioTapBlock block) override {
    std::unique_lock lock(system_->mutex_);
    waitOutOfTap(lock);
    bufferSize_ = std::max<std::uint32_t>(bufferSize, 1);
    tap_ = std::move(block);
  }

  void removeTap() override {
    std::unique_lock lock(system_->mutex_);
    waitOutOfTap(lock);
    tap_ = nullptr;
  }

  void start() override {
    std::unique_lock lock(system_->mutex_);
    const auto format = formatLocked();
    if (!device_ || system_->failing_.count(*device_) > 0 || !format) {
      throw AudioEngineError("Failed to open audio input device " +
                             (device_ ? std::to_string(*device_) : std::string("(none)")) +
                             ": the device cannot be opened");
    }
    if (running_) {
      return;
    }
    running_ = true;
    if (position_ < takeLengthLocked()) {
      ++system_->playing_;
    }
    if (!thread_.joinable()) {
      exit_ = false;
      thread_ = std::thread([this] { run(); });
    }
    system_->changed_.notify_all();
  }

  void pause() override {
    std::unique_lock lock(system_->mutex_);
    haltLocked();
    waitOutOfTap(lock);
  }

  void stop() override {
    std::thread thread;
    {
      std::unique_lock lock(system_->mutex_);
      haltLocked();
      exit_ = true;
      system_->changed_.notify_all();
      thread = std::move(thread_);
    }
    if (thread.joinable()) {
      thread.join();
    }
  }

private:
  std::optional<AudioFormat> formatLocked() const {
    if (!device_) {
      return std::nullopt;
    }
    const auto &devices = system_->devices_;
    const auto device = std::find_if(devices.begin(), devices.end(),
                                     [&](const auto &d) { return d.id == *device_; });
    if (device == devices.end()) {
      return std::nullopt;
    }
    const auto take = system_->takes_.find(*device_);
    const std::uint32_t channels = take != system_->takes_.end()
                                       ? static_cast<std::uint32_t>(take->second.size())
                                       : std::max<std::uint32_t>(device->inputChannelCount, 1);
    return AudioFormat::standard(device->defaultSampleRate, channels);
  }

  std::size_t takeLengthLocked() const {
    const auto take = device_ ? system_->takes_.find(*device_) : system_->takes_.end();
    return take == system_->takes_.end() || take->second.empty() ? 0 : take->second[0].size();
  }

  void haltLocked() {
    if (running_ && position_ < takeLengthLocked()) {
      --system_->playing_;
    }
    running_ = false;
    system_->changed_.notify_all();
  }

  void waitOutOfTap(std::unique_lock<std::mutex> &lock) {
    system_->changed_.wait(lock,
                           [&] { return !inTap_ || std::this_thread::get_id() == tapThread_; });
  }

  bool mayDeliverLocked() const {
    return running_ && tap_ && position_ < takeLengthLocked() &&
           (!system_->limit_ || system_->delivered_ < *system_->limit_);
  }

  void run() {
    std::unique_lock lock(system_->mutex_);
    tapThread_ = std::this_thread::get_id();
    while (true) {
      system_->changed_.wait(lock, [&] { return exit_ || mayDeliverLocked(); });
      if (exit_) {
        return;
      }
      const auto &take = system_->takes_.at(*device_);
      const std::size_t length = take[0].size();
      const auto frames =
          static_cast<std::uint32_t>(std::min<std::size_t>(bufferSize_, length - position_));
      auto buffer = PcmBuffer::make(*formatLocked(), frames);
      for (std::uint32_t c = 0; c < take.size(); ++c) {
        std::copy_n(take[c].begin() + static_cast<std::ptrdiff_t>(position_), frames,
                    buffer->floatChannelData(c));
      }
      buffer->setFrameLength(frames);
      position_ += frames;
      inTap_ = true;
      const AudioTapBlock tap = tap_;
      lock.unlock();
      tap(std::move(buffer));
      lock.lock();
      inTap_ = false;
      ++system_->delivered_;
      if (position_ >= length && running_) {
        --system_->playing_;
      }
      system_->changed_.notify_all();
    }
  }

  const std::shared_ptr<InMemoryAudioInput> system_;
  std::optional<std::uint32_t> device_;
  std::uint32_t bufferSize_ = 1;
  AudioTapBlock tap_;
  std::size_t position_ = 0;
  bool running_ = false;
  bool exit_ = false;
  bool inTap_ = false;
  std::thread::id tapThread_;
  std::thread thread_;
};

InMemoryAudioInput::~InMemoryAudioInput() = default;

void InMemoryAudioInput::setDevices(std::vector<AudioDeviceDescription> devices) {
  std::lock_guard lock(mutex_);
  devices_ = std::move(devices);
}

void InMemoryAudioInput::failDeviceListing(std::string reason) {
  std::lock_guard lock(mutex_);
  listingFailure_ = std::move(reason);
}

void InMemoryAudioInput::setPermission(bool granted) {
  std::lock_guard lock(mutex_);
  permission_ = granted;
}

void InMemoryAudioInput::setTake(std::uint32_t deviceId, std::vector<std::vector<float>> channels) {
  std::lock_guard lock(mutex_);
  takes_[deviceId] = std::move(channels);
}

void InMemoryAudioInput::failOpening(std::uint32_t deviceId) {
  std::lock_guard lock(mutex_);
  failing_.insert(deviceId);
}

void InMemoryAudioInput::refuseSelection(std::uint32_t deviceId, int status) {
  std::lock_guard lock(mutex_);
  refused_[deviceId] = status;
}

void InMemoryAudioInput::setDeliveryLimit(std::optional<std::size_t> buffers) {
  std::lock_guard lock(mutex_);
  limit_ = buffers;
  changed_.notify_all();
}

bool InMemoryAudioInput::waitForBuffers(std::size_t count) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::seconds(30),
                    [&] { return delivered_ >= count || playing_ == 0; });
  return delivered_ >= count;
}

std::size_t InMemoryAudioInput::enginesMade() const {
  std::lock_guard lock(mutex_);
  return engines_;
}

std::size_t InMemoryAudioInput::permissionRequests() const {
  std::lock_guard lock(mutex_);
  return permissionRequests_;
}

std::vector<AudioDeviceDescription> InMemoryAudioInput::devices() {
  std::lock_guard lock(mutex_);
  if (listingFailure_) {
    throw AudioEngineError(*listingFailure_);
  }
  return devices_;
}

bool InMemoryAudioInput::requestRecordPermission() {
  std::lock_guard lock(mutex_);
  ++permissionRequests_;
  return permission_;
}

std::unique_ptr<AudioInputEngine> InMemoryAudioInput::makeEngine() {
  {
    std::lock_guard lock(mutex_);
    ++engines_;
  }
  return std::make_unique<Engine>(shared_from_this());
}

} // namespace platform
