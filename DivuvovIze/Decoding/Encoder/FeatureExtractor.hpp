#pragma once

#include "DivuvovIze/Decoding/Encoder/FeatureExtracting.hpp"
#include "DivuvovIze/Decoding/Model/ModelSlot.hpp"

#include <memory>

namespace divuvovize {

// The standard feature extractor: a thin wrapper around the loaded mel model. Its dimensions are
// read from the model's description at every call. Thread-safe: several windows may extract at
// once; each call reads the model reference once.
class FeatureExtractor : public FeatureExtracting, public ModelSlot {
public:
  FeatureExtractor() = default;

  // Dimension 1 of the output "melspectrogram_features".
  std::optional<int> melCount() const override;
  // Dimension 0 of the input "audio".
  std::optional<int> windowSamples() const override;

  // Runs the mel model on the window inside the "ExtractAudioFeatures" signpost interval and
  // returns "melspectrogram_features". An empty array throws audioProcessingFailed
  // ("FeatureExtractor input must be MLMultiArray"); no model throws modelsUnavailable ("Models are
  // unavailable"); a cancelled task throws CancellationError before predicting; prediction errors
  // pass through.
  FeatureExtractorOutputType logMelSpectrogram(const AudioProcessorOutputType &audio) override;
};

} // namespace divuvovize
