#pragma once

#include "platform/ml/MLMultiArray.hpp"

#include <optional>

namespace divuvovize {

// The audio window, the mel features and the encoder output all travel as multi-arrays. An
// empty array (no shape) stands for "no array" where a stage is handed something else.
using AudioProcessorOutputType = platform::MLMultiArray;
using FeatureExtractorOutputType = platform::MLMultiArray;
using AudioEncoderOutputType = platform::MLMultiArray;

// Turns a padded audio window into log-mel features. A configuration may supply its own.
class FeatureExtracting {
public:
  virtual ~FeatureExtracting() = default;
  // Mel bins of the features; absent until a model is loaded.
  virtual std::optional<int> melCount() const = 0;
  // Samples of one window; absent until a model is loaded.
  virtual std::optional<int> windowSamples() const = 0;
  // Blocking; runs on a worker thread. Throws WhisperError, CancellationError or the model's
  // error.
  virtual FeatureExtractorOutputType logMelSpectrogram(const AudioProcessorOutputType &audio) = 0;
};

} // namespace divuvovize
