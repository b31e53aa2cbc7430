#pragma once

#include "platform/audio/AudioInputEngine.hpp"
#include "platform/audio/MicrophoneEngine.hpp"
#include "platform/services/MicrophoneAuthorization.hpp"

#include <memory>
#include <mutex>

namespace platform {

// The default microphone of an audio input system (PortAudio on Linux) as the running engine
// the app's capture uses: prepare() makes the input engine, start() opens the device, and the
// installed tap receives every captured buffer on the engine's audio thread. Control calls
// from one thread (the main thread); the tap may run meanwhile.
class InputEngineMicrophone final : public MicrophoneEngine {
public:
  explicit InputEngineMicrophone(std::shared_ptr<AudioInputSystem> system);
  ~InputEngineMicrophone() override;

  std::optional<AudioFormat> inputFormat() const override;
  void prepare() override;
  // Throws MicrophoneEngineError with the device's reason.
  void start() override;
  bool isRunning() const override;
  void installTap(std::uint32_t bufferSize, const AudioFormat &format, TapBlock block) override;
  void removeTap() override;

private:
  std::shared_ptr<AudioInputSystem> system_;
  std::unique_ptr<AudioInputEngine> engine_;
  bool running_ = false;
  // Held while a buffer is delivered, so removeTap() waits for a delivery in progress.
  std::shared_ptr<std::mutex> tapMutex_ = std::make_shared<std::mutex>();
  std::shared_ptr<TapBlock> tap_ = std::make_shared<TapBlock>();
};

// The microphone permission as an audio input system grants it: asked of the system the first
// time anyone needs it (status or request), then remembered. Meant for systems that answer at
// once without a prompt, as Linux always permits recording. Thread-safe.
class AudioInputAuthorization final : public MicrophoneAuthorization {
public:
  explicit AudioInputAuthorization(std::shared_ptr<AudioInputSystem> system);
  AuthorizationStatus status() const override;
  void requestAccess(Completion completion) override;

private:
  std::shared_ptr<AudioInputSystem> system_;
  mutable std::mutex mutex_;
  mutable AuthorizationStatus status_ = AuthorizationStatus::notDetermined;
};

} // namespace platform
