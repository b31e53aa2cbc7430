#pragma once

#include "platform/audio/AudioFormat.hpp"
#include "platform/audio/PcmBuffer.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// An input engine could not be started (the device failed to open, vanished, or refused the
// format). what() names the device and the reason.
class AudioEngineError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One audio device as the system reports it.
struct AudioDeviceDescription {
  std::uint32_t id = 0;                // the system's identifier, stable while the device exists
  std::string name;                    // as the system names it; empty when it gives none
  std::uint32_t inputChannelCount = 0; // 0 for an output-only device
  double defaultSampleRate = 0;        // frames per second the device runs at by default
};

// Called on the engine's audio thread with each captured buffer (the engine's input format,
// frame length up to the tap's buffer size). The buffer is the callee's to keep. The block
// must not block: the device's next buffer waits for it.
using AudioTapBlock = std::function<void(std::shared_ptr<const PcmBuffer> buffer)>;

// A capture engine on one input device: install a tap, start, pause, start again, stop. Starts
// on the system's default input unless a device is selected first. Control calls come from
// one thread at a time; the tap runs on the engine's own thread. Once `pause` or `stop`
// returns, the tap is not running and is not called again until the next `start`.
class AudioInputEngine {
public:
  virtual ~AudioInputEngine() = default;

  // Chooses the input device by id before the engine starts. Returns 0 on success, else a
  // nonzero status, and the engine stays on its current device.
  virtual int selectInputDevice(std::uint32_t deviceId) = 0;

  // The format buffers arrive in: the device's native rate and channel count, 32-bit float,
  // not interleaved. Nothing when the device cannot be reached.
  virtual std::optional<AudioFormat> inputFormat() = 0;

  // Replaces the tap; `bufferSize` is the frames per delivered buffer the tap asks for.
  virtual void installTap(std::uint32_t bufferSize, AudioTapBlock block) = 0;
  // Removes the tap; nothing more is delivered.
  virtual void removeTap() = 0;

  // Opens the device (first time) and starts delivering to the tap. Throws AudioEngineError
  // when the device cannot be opened or started.
  virtual void start() = 0;
  // Stops delivering and keeps the device open, so `start` continues the same stream.
  virtual void pause() = 0;
  // Stops delivering and closes the device.
  virtual void stop() = 0;
};

// The machine's audio input: its devices, the permission to record and engines to capture
// with. Thread-safe.
class AudioInputSystem {
public:
  virtual ~AudioInputSystem() = default;

  // Every device, output-only ones included, in the system's order. Throws AudioEngineError
  // when the list cannot be read.
  virtual std::vector<AudioDeviceDescription> devices() = 0;

  // Blocks until the system answers whether this program may record.
  virtual bool requestRecordPermission() = 0;

  // A new engine on the default input device.
  virtual std::unique_ptr<AudioInputEngine> makeEngine() = 0;

  // The process's audio input: the real microphone (PortAudio).
  static std::shared_ptr<AudioInputSystem> shared();
};

} // namespace platform
