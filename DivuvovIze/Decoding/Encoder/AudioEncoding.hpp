#pragma once

#include "DivuvovIze/Decoding/Encoder/FeatureExtracting.hpp"

#include <optional>

namespace divuvovize {

// Turns mel features into the embeddings the text decoder attends to. A configuration may
// supply its own.
class AudioEncoding {
public:
  virtual ~AudioEncoding() = default;
  // Width of one embedding; absent until a model is loaded.
  virtual std::optional<int> embedSize() const = 0;
  // Blocking; runs on a worker thread. Throws WhisperError, CancellationError or the model's
  // error.
  virtual AudioEncoderOutputType encodeFeatures(const FeatureExtractorOutputType &features) = 0;
};

} // namespace divuvovize
