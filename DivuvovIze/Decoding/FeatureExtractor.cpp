#include "DivuvovIze/Decoding/FeatureExtractor.hpp"

#include "DeduveCore/Support/ModelUtilities.hpp"
#include "DivuvovIze/Decoding/MelSpectrogramInput.hpp"
#include "DivuvovIze/Decoding/MelSpectrogramOutput.hpp"
#include "DivuvovIze/Models/Signposts.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/ml/runner/AsyncPrediction.hpp"
#include "platform/system/CancellationScope.hpp"

namespace divuvovize {

std::shared_ptr<platform::MLModel> FeatureExtractor::model() const {
  std::lock_guard lock(mutex_);
  return model_;
}

void FeatureExtractor::setModel(std::shared_ptr<platform::MLModel> model) {
  std::lock_guard lock(mutex_);
  model_ = std::move(model);
}

std::optional<int> FeatureExtractor::melCount() const {
  return deduve::ModelUtilities::getModelOutputDimension(model(), "melspectrogram_features", 1);
}

std::optional<int> FeatureExtractor::windowSamples() const {
  return deduve::ModelUtilities::getModelInputDimension(model(), "audio", 0);
}

FeatureExtractorOutputType
FeatureExtractor::logMelSpectrogram(const AudioProcessorOutputType &audio) {
  if (audio.shape().empty()) {
    throw WhisperError::audioProcessingFailed("FeatureExtractor input must be MLMultiArray");
  }
  const auto mel = model();
  if (!mel) {
    throw WhisperError::modelsUnavailable("Models are unavailable");
  }
  platform::Task::checkCancellation();
  const auto interval =
      beginSignpostInterval("ExtractAudioFeatures", Signposter::featureExtractor());
  try {
    const MelSpectrogramOutput output(platform::asyncPrediction(*mel, MelSpectrogramInput(audio)));
    auto features = output.melspectrogramFeatures();
    endSignpostInterval("ExtractAudioFeatures", interval);
    return features;
  } catch (...) {
    endSignpostInterval("ExtractAudioFeatures", interval);
    throw;
  }
}

} // namespace divuvovize
