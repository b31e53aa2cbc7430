#pragma once

#include "DivuvovIze/Audio/AudioBufferStream.hpp"
#include "DivuvovIze/Audio/AudioDevice.hpp"
#include "DivuvovIze/Audio/WaveformImage.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "platform/audio/PcmBuffer.hpp"
#include "platform/ml/MLMultiArray.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace divuvovize {

// What an audio source hands to the feature extractor: one model input window.
using AudioProcessorOutputType = platform::MLMultiArray;

// Receives every processed live buffer (16 kHz mono samples), on the audio thread: it must not
// block.
using AudioBufferCallback = std::function<void(const std::vector<float> &buffer)>;

// The engine's audio source. The engine talks to its source only through this interface, so a
// configuration can supply a different one. File loading is offered by AudioProcessor's static
// functions.
class AudioProcessing {
public:
  virtual ~AudioProcessing();

  // A float32 model input of shape [toLength] holding the samples from `startAt` (at most
  // toLength of them), zero-filled after them. Nothing, with an error log, when `startAt` lies
  // outside the array or `toLength` is negative. `saveSegment` has no effect.
  static std::optional<platform::MLMultiArray>
  padOrTrimAudio(std::span<const float> audioArray, int startAt = 0,
                 int toLength = Constants::defaultWindowSamples, bool saveSegment = false);

  // Loads a whole file as a 16 kHz mono buffer, all channels summed; blocks the caller (run it
  // on a worker to keep a thread free). Throws as AudioProcessor::loadAudio does.
  static std::shared_ptr<platform::PcmBuffer> loadAudioAsync(const std::string &path);

  // The first width * height samples (the size's members truncated) as the pixels of an image,
  // the four bytes of each sample making one pixel. Nothing when the size is not a positive
  // finite one or the samples are too few to cover it.
  static std::optional<WaveformImage> createWaveformImage(std::span<const float> audio,
                                                          ImageSize size);

  // Fits one window for the model; see padOrTrimAudio. Overridable so a source can shape its
  // windows differently.
  virtual std::optional<AudioProcessorOutputType>
  padOrTrim(std::span<const float> audioArray, int startAt = 0,
            int toLength = Constants::defaultWindowSamples) = 0;

  // ---- Live recording ----
  // An absent device id means the system's default input. Readers may run on any thread while
  // the audio thread records.

  // Every 16 kHz mono sample of the current take (a copy).
  virtual std::vector<float> audioSamples() const = 0;
  // Drops the oldest samples so that at most `keepingLast` remain.
  virtual void purgeAudioSamples(std::size_t keepingLast) = 0;
  // The relative energy (in [0, 1]) of every processed buffer of the take, oldest first.
  virtual std::vector<float> relativeEnergy() const = 0;
  virtual int relativeEnergyWindow() const = 0;
  virtual void setRelativeEnergyWindow(int window) = 0;

  // Starts a new take on the device, calling `callback` with every processed buffer. Throws
  // WhisperError or the engine's start error.
  virtual void startRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt,
                                  AudioBufferCallback callback = nullptr) = 0;
  // Starts a take whose buffers go into the returned stream. Never throws: a start failure
  // finishes the stream with the error. Cancelling the stream stops the recording.
  virtual std::shared_ptr<AudioBufferStream>
  startStreamingRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt) = 0;
  // Pauses the take; samples stay.
  virtual void pauseRecording() = 0;
  // Continues a paused take, on another device when the id differs from the take's. A given
  // callback replaces the current one. Throws as startRecordingLive.
  virtual void resumeRecordingLive(std::optional<DeviceID> inputDeviceID = std::nullopt,
                                   AudioBufferCallback callback = nullptr) = 0;
  // Ends any recording. Harmless when nothing records: teardown calls it unconditionally.
  virtual void stopRecording() = 0;
};

} // namespace divuvovize
