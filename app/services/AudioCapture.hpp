#pragma once

#include "app/support/AppLog.hpp"
#include "platform/audio/AudioConverter.hpp"
#include "platform/audio/MicrophoneEngine.hpp"
#include "platform/services/MicrophoneAuthorization.hpp"
#include "platform/system/Executor.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

namespace murmurquill {

// Records the default microphone while the push-to-talk key is held and hands over the whole
// take as 16 kHz mono float samples. The engine is prepared and started once (prewarm) and
// keeps running; a take only installs and removes a tap, so recording starts at once.
//
// Control calls run on the main thread; the tap runs on the audio thread and shares the take
// with the main thread only under a lock. Made only through make().
class AudioCapture final : public std::enable_shared_from_this<AudioCapture> {
public:
  class AudioCaptureError : public std::runtime_error {
  public:
    // noInputDevice: the system has no input device at all (an input that exists but cannot
    // be opened is engineStartFailed, with the platform's reason).
    enum class Kind {
      engineStartFailed,
      microphonePermissionDenied,
      converterSetupFailed,
      noInputDevice
    };
    // `cause` is the wrapped error's description (engineStartFailed only).
    explicit AudioCaptureError(Kind kind, const std::string &cause = {});
    Kind kind() const { return kind_; }

  private:
    Kind kind_;
  };

  struct Options {
    // Frames per tap buffer asked of the engine.
    std::uint32_t tapBufferSize = 4096;
    // Longest take kept, in seconds of output; later audio is dropped and the owner is told
    // once through onLengthCapReached. Bounds memory when a key release is never seen.
    double maxTakeSeconds = 300.0;
  };

  static constexpr double kTargetSampleRate = 16000.0;

  static std::shared_ptr<AudioCapture> make(std::shared_ptr<platform::MicrophoneEngine> engine,
                                            std::shared_ptr<platform::MicrophoneAuthorization> auth,
                                            std::shared_ptr<platform::Executor> main, LogSink log,
                                            Options options);
  static std::shared_ptr<AudioCapture> make(std::shared_ptr<platform::MicrophoneEngine> engine,
                                            std::shared_ptr<platform::MicrophoneAuthorization> auth,
                                            std::shared_ptr<platform::Executor> main, LogSink log) {
    return make(std::move(engine), std::move(auth), std::move(main), std::move(log), Options());
  }
  ~AudioCapture();
  AudioCapture(const AudioCapture &) = delete;
  AudioCapture &operator=(const AudioCapture &) = delete;

  // Posted to the main executor once per take when the take reaches its length cap (and the
  // take is still recording when it runs).
  std::function<void()> onLengthCapReached;

  // Prepares the converter and starts the engine; does nothing once prewarmed. Never asks for
  // the permission. Throws AudioCaptureError; a failure leaves the capture not prewarmed.
  void prewarm();
  // Begins a take (prewarming first when needed); does nothing while recording. Throws
  // AudioCaptureError.
  void start();
  // Ends the take and returns all of it, the converter's tail included; empty when not
  // recording.
  std::vector<float> stop();

  bool isRecording() const { return isRecording_; }
  bool isPrewarmed() const { return isPrewarmed_; }
  std::optional<platform::AudioFormat> hardwareFormat() const { return hardwareFormat_; }

private:
  // What the audio thread touches, shared with the tap block so that a capture is never
  // owned (and destroyed) by the audio thread.
  struct Take;

  AudioCapture(std::shared_ptr<platform::MicrophoneEngine> engine,
               std::shared_ptr<platform::MicrophoneAuthorization> auth,
               std::shared_ptr<platform::Executor> main, LogSink log, Options options);

  std::shared_ptr<platform::MicrophoneEngine> engine_;
  std::shared_ptr<platform::MicrophoneAuthorization> auth_;
  std::shared_ptr<platform::Executor> main_;
  LogSink log_;
  Options options_;
  bool isRecording_ = false;
  bool isPrewarmed_ = false;
  std::optional<platform::AudioFormat> hardwareFormat_;
  std::shared_ptr<Take> take_;
};

} // namespace murmurquill
