#include "platform/audio/InMemoryMicrophoneEngine.hpp"

namespace platform {

InMemoryMicrophoneEngine::InMemoryMicrophoneEngine(std::optional<AudioFormat> format)
    : format_(std::move(format)) {}

std::optional<AudioFormat> InMemoryMicrophoneEngine::inputFormat() const { return format_; }

void InMemoryMicrophoneEngine::prepare() {}

void InMemoryMicrophoneEngine::start() {
  std::lock_guard lock(mutex_);
  ++starts_;
  if (startError_) {
    throw MicrophoneEngineError(*startError_);
  }
  if (!format_) {
    throw MicrophoneEngineError("no audio input device");
  }
  running_ = true;
}

bool InMemoryMicrophoneEngine::isRunning() const {
  std::lock_guard lock(mutex_);
  return running_;
}

void InMemoryMicrophoneEngine::installTap(std::uint32_t bufferSize, const AudioFormat &,
                                          TapBlock block) {
  std::lock_guard lock(mutex_);
  tap_ = std::move(block);
  tapBufferSize_ = bufferSize;
  ++tapInstalls_;
}

void InMemoryMicrophoneEngine::removeTap() {
  std::lock_guard lock(mutex_);
  tap_ = nullptr;
}

bool InMemoryMicrophoneEngine::push(const PcmBuffer &buffer) {
  std::lock_guard lock(mutex_);
  if (!tap_ || !running_) {
    return false;
  }
  tap_(buffer);
  return true;
}

void InMemoryMicrophoneEngine::setStartError(std::optional<std::string> text) {
  std::lock_guard lock(mutex_);
  startError_ = std::move(text);
}

bool InMemoryMicrophoneEngine::hasTap() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(tap_);
}

std::size_t InMemoryMicrophoneEngine::startCount() const {
  std::lock_guard lock(mutex_);
  return starts_;
}

std::size_t InMemoryMicrophoneEngine::tapInstallCount() const {
  std::lock_guard lock(mutex_);
  return tapInstalls_;
}

std::uint32_t InMemoryMicrophoneEngine::tapBufferSize() const {
  std::lock_guard lock(mutex_);
  return tapBufferSize_;
}

} // namespace platform
