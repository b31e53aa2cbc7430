#pragma once

#include "platform/audio/AudioFormat.hpp"
#include "platform/audio/PcmBuffer.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>

namespace platform {

// The microphone engine could not start (no device, device busy, ...).
class MicrophoneEngineError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The default microphone as a running engine with one tap on its input: the engine is prepared
// and started once and keeps running; a tap installed on it receives the captured buffers in
// the input's own format. Control calls belong to one thread (the main thread).
class MicrophoneEngine {
public:
  // Receives each captured buffer, on the engine's audio thread. The buffer is valid only
  // during the call.
  using TapBlock = std::function<void(const PcmBuffer &buffer)>;

  virtual ~MicrophoneEngine() = default;

  // The input's format (bus 0); absent when there is no input device.
  virtual std::optional<AudioFormat> inputFormat() const = 0;
  // Allocates what the engine needs to start; harmless to repeat.
  virtual void prepare() = 0;
  // Starts the engine; harmless when it runs. Throws MicrophoneEngineError.
  virtual void start() = 0;
  virtual bool isRunning() const = 0;
  // Installs the tap (replacing one installed before): buffers of about `bufferSize` frames
  // in `format` (the input format) go to `block` while the engine runs.
  virtual void installTap(std::uint32_t bufferSize, const AudioFormat &format, TapBlock block) = 0;
  // Removes the tap. When it returns the block is not running and is never called again.
  // Harmless without a tap.
  virtual void removeTap() = 0;
};

} // namespace platform
