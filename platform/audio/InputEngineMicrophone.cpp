#include "platform/audio/InputEngineMicrophone.hpp"

namespace platform {

InputEngineMicrophone::InputEngineMicrophone(std::shared_ptr<AudioInputSystem> system)
    : system_(std::move(system)) {}

InputEngineMicrophone::~InputEngineMicrophone() {
  if (engine_) {
    engine_->removeTap();
    engine_->stop();
  }
}

std::optional<AudioFormat> InputEngineMicrophone::inputFormat() const {
  if (!engine_) {
    // The format is the device's: ask a fresh engine without opening it for capture.
    const auto probe = system_->makeEngine();
    return probe ? probe->inputFormat() : std::nullopt;
  }
  return engine_->inputFormat();
}

void InputEngineMicrophone::prepare() {
  if (engine_) {
    return;
  }
  engine_ = system_->makeEngine();
}

void InputEngineMicrophone::start() {
  prepare();
  if (running_) {
    return;
  }
  try {
    engine_->start();
  } catch (const AudioEngineError &error) {
    throw MicrophoneEngineError(error.what());
  }
  running_ = true;
}

bool InputEngineMicrophone::isRunning() const { return running_; }

void InputEngineMicrophone::installTap(std::uint32_t bufferSize, const AudioFormat &,
                                       TapBlock block) {
  prepare();
  {
    std::lock_guard lock(*tapMutex_);
    *tap_ = std::move(block);
  }
  // The engine's tap forwards to whatever block is installed at the moment of each buffer.
  const auto tap = tap_;
  const auto mutex = tapMutex_;
  engine_->installTap(bufferSize, [tap, mutex](std::shared_ptr<const PcmBuffer> buffer) {
    std::lock_guard lock(*mutex);
    if (*tap && buffer) {
      (*tap)(*buffer);
    }
  });
}

void InputEngineMicrophone::removeTap() {
  std::lock_guard lock(*tapMutex_);
  *tap_ = nullptr;
}

AudioInputAuthorization::AudioInputAuthorization(std::shared_ptr<AudioInputSystem> system)
    : system_(std::move(system)) {}

AuthorizationStatus AudioInputAuthorization::status() const {
  std::lock_guard lock(mutex_);
  if (status_ == AuthorizationStatus::notDetermined) {
    status_ = system_->requestRecordPermission() ? AuthorizationStatus::authorized
                                                 : AuthorizationStatus::denied;
  }
  return status_;
}

void AudioInputAuthorization::requestAccess(Completion completion) {
  const bool granted = status() == AuthorizationStatus::authorized;
  if (completion) {
    completion(granted);
  }
}

} // namespace platform
