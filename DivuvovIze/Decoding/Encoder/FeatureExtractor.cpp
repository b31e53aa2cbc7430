#include "DivuvovIze/Decoding/Encoder/FeatureExtractor.hpp"

#include "DeduveCore/Support/ModelUtilities.hpp"
#include "DivuvovIze/Decoding/Model/MelSpectrogramInput.hpp"
#include "DivuvovIze/Decoding/Model/MelSpectrogramOutput.hpp"
#include "DivuvovIze/Decoding/Model/ModelPrediction.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/CancellationScope.hpp"

namespace divuvovize {

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
  const MelSpectrogramOutput output(predictInInterval(
      *mel, MelSpectrogramInput(audio), "ExtractAudioFeatures", Signposter::featureExtractor()));
  return output.melspectrogramFeatures();
}

} // namespace divuvovize
