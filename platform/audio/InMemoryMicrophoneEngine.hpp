#pragma once

#include "platform/audio/MicrophoneEngine.hpp"

#include <cstddef>
#include <mutex>
#include <string>

namespace platform {

// A microphone for tests: the test pushes buffers, from any thread (standing for the audio
// thread), and they reach the tap while the engine runs. It can have no input device and can
// fail to start. Thread-safe.
class InMemoryMicrophoneEngine final : public MicrophoneEngine {
public:
  // An engine whose input has `format`, or no input device when absent.
  explicit InMemoryMicrophoneEngine(std::optional<AudioFormat> format);

  std::optional<AudioFormat> inputFormat() const override;
  void prepare() override;
  void start() override;
  bool isRunning() const override;
  void installTap(std::uint32_t bufferSize, const AudioFormat &format, TapBlock block) override;
  void removeTap() override;

  // Hands `buffer` to the tap. False when no tap is installed or the engine does not run
  // (the buffer is dropped).
  bool push(const PcmBuffer &buffer);
  // While set, start() throws MicrophoneEngineError with this text.
  void setStartError(std::optional<std::string> text);

  bool hasTap() const;
  std::size_t startCount() const;
  std::size_t tapInstallCount() const;
  std::uint32_t tapBufferSize() const;

private:
  std::optional<AudioFormat> format_;
  // Held while a buffer is delivered, so removeTap waits for a delivery in progress.
  mutable std::mutex mutex_;
  TapBlock tap_;
  std::uint32_t tapBufferSize_ = 0;
  std::optional<std::string> startError_;
  bool running_ = false;
  std::size_t starts_ = 0;
  std::size_t tapInstalls_ = 0;
};

} // namespace platform
