#pragma once

#include "DivuvovIze/Audio/WaveformImage.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "platform/audio/PcmBuffer.hpp"
#include "platform/ml/MLMultiArray.hpp"

#include <memory>
#include <optional>
#include <span>
#include <string>

namespace divuvovize {

// What an audio source hands to the feature extractor: one model input window.
using AudioProcessorOutputType = platform::MLMultiArray;

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

  // Ends any recording. Harmless when nothing records: teardown calls it unconditionally.
  virtual void stopRecording() = 0;
};

} // namespace divuvovize
