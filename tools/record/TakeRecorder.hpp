#pragma once

#include "DivuvovIze/Audio/AudioDevice.hpp"
#include "platform/audio/AudioInputEngine.hpp"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace divuvovize {
class AudioProcessor;
}

namespace murmurquill {

// How a take ended.
enum class TakeEnding {
  complete,    // the asked length arrived
  interrupted, // the user stopped it early
  stalled,     // the device stopped delivering before the deadline
};

// Records one take of a set length at 16 kHz mono, with the two ways out a recorder at a
// terminal needs: an interrupt that keeps what was recorded, and a stop that gives up waiting
// on a device that no longer answers.
class TakeRecorder {
public:
  using LevelCallback = std::function<void(const std::vector<float> &buffer)>;

  // Records through `input` (null: the machine's audio input); `wanted` samples make a take.
  TakeRecorder(std::shared_ptr<platform::AudioInputSystem> input, std::size_t wanted);
  // Waits for a stop still under way: a caller whose stop timed out ends the process instead.
  ~TakeRecorder();
  TakeRecorder(const TakeRecorder &) = delete;
  TakeRecorder &operator=(const TakeRecorder &) = delete;

  // Starts the take on `device` (nothing: the default input); `level` is called on the audio
  // thread with every buffer. Throws what the processor throws when the device cannot start.
  void start(std::optional<divuvovize::DeviceID> device, LevelCallback level);
  // Blocks until the take is complete, `interrupt` is called or `deadline` passes.
  TakeEnding waitForEnd(std::chrono::steady_clock::time_point deadline);
  // Ends the wait as the user's own stop. Safe from any thread, but not from a signal handler.
  void interrupt();
  // Stops the device; called once. False when it has not stopped within `bound`: the stop goes on
  // in the background and buffers may still arrive (`samples` never gives more than the take).
  bool stop(std::chrono::steady_clock::duration bound);
  // The take so far, at most `wanted` samples.
  std::vector<float> samples() const;

private:
  struct Progress;

  const std::size_t wanted_;
  std::shared_ptr<divuvovize::AudioProcessor> processor_;
  // Shared with the audio thread's callback, which may outlive a stop that timed out.
  std::shared_ptr<Progress> progress_;
  std::thread stopping_;
};

} // namespace murmurquill
