#include "platform/audio/AudioInputEngine.hpp"

#include "platform/audio/PortAudioInput.hpp"

#include <mutex>

namespace platform {

namespace {

std::mutex sharedMutex;
std::shared_ptr<AudioInputSystem> sharedSystem;

} // namespace

std::shared_ptr<AudioInputSystem> AudioInputSystem::shared() {
  std::lock_guard lock(sharedMutex);
  if (!sharedSystem) {
    sharedSystem = std::make_shared<PortAudioInput>();
  }
  return sharedSystem;
}

} // namespace platform
