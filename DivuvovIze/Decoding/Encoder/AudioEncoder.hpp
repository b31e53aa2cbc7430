#pragma once

#include "DivuvovIze/Decoding/Encoder/AudioEncoding.hpp"
#include "DivuvovIze/Decoding/Model/ModelSlot.hpp"

#include <memory>

namespace divuvovize {

// The standard audio encoder: a thin wrapper around the loaded encoder model. Its dimensions are
// read from the model's description at every call. Thread-safe: several windows may encode at
// once; each call reads the model reference once.
class AudioEncoder : public AudioEncoding, public ModelSlot {
public:
  AudioEncoder() = default;

  // Dimension 1 of the output "encoder_output_embeds".
  std::optional<int> embedSize() const override;
  // Dimension 3 of the output "encoder_output_embeds" (encoder positions).
  virtual std::optional<int> sequenceLength() const;

  // Runs the encoder model on the features inside the "EncodeAudio" signpost interval and
  // returns "encoder_output_embeds". An empty array throws audioProcessingFailed ("AudioEncoder
  // input must be MLMultiArray"); no model throws modelsUnavailable ("Models are unavailable"); a
  // cancelled task throws CancellationError before predicting; prediction errors pass through.
  AudioEncoderOutputType encodeFeatures(const FeatureExtractorOutputType &features) override;
};

} // namespace divuvovize
